#pragma once

// Makes system calls of the calling process, and of every process it starts from then on
// (fork, clone and exec keep the filter), fail with an error, through a seccomp filter.
// For a test that needs one call to fail where nothing natural would make it fail, in a
// process of its own (a forked test child): the filter cannot be removed again.

#include <initializer_list>

namespace ifxtest {

// 0, or the errno of the prctl or seccomp call that failed (EINVAL or ENOSYS where the
// kernel, or an emulator, has no seccomp filters: skip the test then).
int FailSystemCalls(std::initializer_list<long> numbers, int error);

}  // namespace ifxtest
