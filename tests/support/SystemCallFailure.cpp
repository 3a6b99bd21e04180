#include "support/SystemCallFailure.h"

#include <linux/audit.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstddef>

namespace ifxtest {

#if defined(__x86_64__) && !defined(__ILP32__)
const std::uint32_t kNativeAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
const std::uint32_t kNativeAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
const std::uint32_t kNativeAuditArch = AUDIT_ARCH_PPC64;
#elif defined(__powerpc64__)
const std::uint32_t kNativeAuditArch = AUDIT_ARCH_PPC64LE;
#else
const std::uint32_t kNativeAuditArch = 0;
#endif

namespace {

sock_filter Load(std::size_t offset) {
    return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(offset));
}

sock_filter Return(std::uint32_t action) {
    return BPF_STMT(BPF_RET | BPF_K, action);
}

sock_filter ReturnError(int error) {
    return Return(SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error) & SECCOMP_RET_DATA));
}

// Where the low 32 bits of an argument are: the arguments are 64-bit values in the
// program's own byte order.
std::size_t LowWordOf(unsigned argument) {
    constexpr std::size_t kLowWord = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0;
    return offsetof(seccomp_data, args) + argument * sizeof(std::uint64_t) + kLowWord;
}

std::uint32_t Number(long number) {
    return static_cast<std::uint32_t>(number);
}

// The kernel refuses a filter from a process without the right to administer the system
// unless it has given up gaining privileges (PR_SET_NO_NEW_PRIVS). Only such a process
// gives that up: root installs the filter without it, so that set-ID programs and the
// user switches of the tests it runs keep their effect under the filter.
int InstallProgram(sock_filter* program, std::size_t length) {
    const sock_fprog filter{static_cast<unsigned short>(length), program};
    if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0) {
        return 0;
    }
    if (errno != EACCES) {
        return errno;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace

// Every rule loads the call's number itself, so that a rule that looked at an argument
// leaves nothing behind, and jumps only within itself or to the next rule.
SystemCallFilter& SystemCallFilter::Fail(long number, int error) {
    m_rules.insert(m_rules.end(), {
                                      Load(offsetof(seccomp_data, nr)),
                                      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Number(number), 0, 1),
                                      ReturnError(error),
                                  });
    return *this;
}

SystemCallFilter& SystemCallFilter::FailWhenArgumentIs(long number, unsigned argument,
                                                       std::uint32_t mask, std::uint32_t value,
                                                       int error) {
    m_rules.insert(m_rules.end(), {
                                      Load(offsetof(seccomp_data, nr)),
                                      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Number(number), 0, 4),
                                      Load(LowWordOf(argument)),
                                      BPF_STMT(BPF_ALU | BPF_AND | BPF_K, mask),
                                      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, 1),
                                      ReturnError(error),
                                  });
    return *this;
}

SystemCallFilter& SystemCallFilter::FailWhenArgumentHasAny(long number, unsigned argument,
                                                           std::uint32_t mask, int error) {
    m_rules.insert(m_rules.end(), {
                                      Load(offsetof(seccomp_data, nr)),
                                      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Number(number), 0, 3),
                                      Load(LowWordOf(argument)),
                                      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, mask, 0, 1),
                                      ReturnError(error),
                                  });
    return *this;
}

SystemCallFilter& SystemCallFilter::Allow(long first, long last) {
    m_rules.insert(m_rules.end(), {
                                      Load(offsetof(seccomp_data, nr)),
                                      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, Number(first), 0, 2),
                                      BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, Number(last), 1, 0),
                                      Return(SECCOMP_RET_ALLOW),
                                  });
    return *this;
}

int SystemCallFilter::Install(int otherwise) const {
    if (kNativeAuditArch == 0) {
        return ENOSYS;
    }
    std::vector<sock_filter> program{
        Load(offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kNativeAuditArch, 1, 0),
        ReturnError(ENOSYS),
    };
    program.insert(program.end(), m_rules.begin(), m_rules.end());
    program.push_back(otherwise == 0 ? Return(SECCOMP_RET_ALLOW) : ReturnError(otherwise));
    // The kernel's limit on a filter's length (BPF_MAXINSNS, 4096): far above any here.
    return InstallProgram(program.data(), program.size());
}

int FailSystemCalls(std::initializer_list<long> numbers, int error) {
    SystemCallFilter filter;
    for (long number : numbers) {
        filter.Fail(number, error);
    }
    return filter.Install();
}

}  // namespace ifxtest
