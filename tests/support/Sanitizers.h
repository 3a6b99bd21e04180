#pragma once

// Whether this test program was built with AddressSanitizer or ThreadSanitizer: such
// builds run fewer rounds, and a child sharing the parent's memory cannot be followed by
// them, so the library forks instead.

namespace ifxtest {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif
#else
constexpr bool kUnderSanitizer = false;
#endif

}  // namespace ifxtest
