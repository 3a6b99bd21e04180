#include <JxLib/JxChildStart.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// What the child relies on from the machine: a stack that grows down (clone gets its top),
// a kernel sigaction that begins with the handler, and a kernel signal set of 64 signals
// taken by a four-argument rt_sigaction. Other architectures (mips, sparc, alpha, hppa)
// differ in one of these, and there the start fails with ENOSYS instead of guessing.
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || \
    defined(__powerpc__) || defined(__s390__) || defined(__riscv) || defined(__loongarch__)
constexpr bool kPlatformSupported = true;
#else
constexpr bool kPlatformSupported = false;
#endif

constexpr int kKernelSignals = 64;
constexpr int kBodyReturned = 127;

struct KernelSigset {
    unsigned long bits[kKernelSignals / (8 * sizeof(unsigned long))];
};

// The kernel's struct sigaction on the architectures above starts with the handler; the
// rest (flags, a restorer where there is one, the mask) is only ever written as zeros,
// which with a null handler (SIG_DFL) is the default action on every layout. Large enough
// for the biggest of those layouts.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    KernelSigset mask;
};

// The caller's signal mask for JxExecChild. It lives in the starting thread's TLS, which
// the child reads through the thread pointer it inherited: body's one argument belongs to
// the caller, so nothing else could carry it. Initial-exec so that reading it is one load
// off the thread pointer and never a call into the dynamic linker, which may take a lock
// or allocate (it takes 16 bytes of the static TLS reserve when the library is loaded
// with dlopen). active is true only while that thread is inside clone with every signal
// blocked, so a child of fork sees false.
struct StartingThreadState {
    bool active;
    KernelSigset callerMask;
};
thread_local StartingThreadState t_starting __attribute__((tls_model("initial-exec")));

long setSignalMask(int how, const KernelSigset* set, KernelSigset* old) {
    return ::syscall(SYS_rt_sigprocmask, how, set, old, sizeof(KernelSigset));
}

KernelSigset everySignal() {
    KernelSigset all;
    std::memset(&all, 0xff, sizeof all);
    return all;
}

// Ends the child. The raw system call: sanitizers' _exit interceptors run exit-time work
// (leak checks) that must not happen in a process sharing the parent's memory.
[[noreturn]] void endChild(int code) {
    for (;;) {
        ::syscall(SYS_exit_group, code);
    }
}

// A handler of the parent that ran in the child would run on the child's stack, in the
// parent's memory, with the parent's locks possibly held: whatever it did would be done
// to the parent. Every caught signal goes back to its default action, which is what exec
// would do anyway; ignored ones stay ignored, as exec keeps them. The child's handler
// table is its own copy (no CLONE_SIGHAND), so the parent's threads may keep changing
// theirs meanwhile. Raw rt_sigaction, because glibc's sigaction refuses its internal
// signals, and those are caught too.
bool resetCaughtSignals() {
    for (int sig = 1; sig <= kKernelSignals; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) {
            continue;
        }
        KernelSigaction current{};
        if (::syscall(SYS_rt_sigaction, sig, nullptr, &current, sizeof(KernelSigset)) != 0) {
            return false;
        }
        if (current.handler == SIG_DFL || current.handler == SIG_IGN) {
            continue;
        }
        const KernelSigaction defaults{};
        if (::syscall(SYS_rt_sigaction, sig, &defaults, nullptr, sizeof(KernelSigset)) != 0) {
            return false;
        }
    }
    return true;
}

struct StartRequest {
    void (*body)(void*);
    void* argument;
};

// The child's first code, on its own stack, every signal still blocked.
int childEntry(void* request) {
    const StartRequest* start = static_cast<const StartRequest*>(request);
    if (!resetCaughtSignals()) {
        endChild(kBodyReturned);
    }
    start->body(start->argument);
    endChild(kBodyReturned);
}

// The child's stack: mapped per start, so that concurrent starts from several threads
// never share one, and unmapped once the child no longer runs on it. The lowest page is
// left inaccessible, so that an overflow faults instead of writing into whatever the
// kernel placed below.
class ChildStack {
  public:
    ChildStack() = default;
    ChildStack(const ChildStack&) = delete;
    ChildStack& operator=(const ChildStack&) = delete;
    ~ChildStack() {
        if (m_base != MAP_FAILED) {
            // Fails only for a range that was never mapped; nothing would be left to undo.
            ::munmap(m_base, m_size);
        }
    }

    // 0, or the errno of the failing call.
    int map() {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page <= 0) {
            return ENOSYS;
        }
        const size_t guard = static_cast<size_t>(page);
        const size_t usable = (JxChildStackBytes + guard - 1) / guard * guard;
        m_size = guard + usable;
        // Mapped without access first: a writable mapping would be charged against the
        // commit limit for the guard page as well.
        m_base = ::mmap(nullptr, m_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (m_base == MAP_FAILED) {
            return errno;
        }
        if (::mprotect(static_cast<char*>(m_base) + guard, usable, PROT_READ | PROT_WRITE) != 0) {
            return errno;
        }
        return 0;
    }

    void* top() const { return static_cast<char*>(m_base) + m_size; }

  private:
    void* m_base = MAP_FAILED;
    size_t m_size = 0;
};

// The caller's dumpable flag across the children that run in its memory. A child that
// changes its credentials before exec makes the kernel set `dumpable` of the memory it
// runs in to the system's suid_dumpable (normally 0), and that memory is the caller's: from
// then on a crash of the caller would leave no core file. The flag is noted when the first
// of the credential-changing starts in flight begins and set back to 1 (it was 1) when the
// last one has returned, its child having executed or ended. Never earlier: a dumpable
// child that still runs as another user before its exec could be attached with ptrace, or
// have its /proc/<pid>/mem opened, by any process of that user, and that memory is the
// caller's. A save and restore per start alone would race: one start would note the 0
// that another's child has just set. The child itself never touches the flag. Starts whose
// child keeps the caller's credentials are not counted: the kernel leaves the flag alone
// for them, and so must we, or an agent's own choice of 0 would be undone.
class DumpableAcrossStarts {
  public:
    DumpableAcrossStarts() {
        // A process forked while a start is in flight would otherwise inherit a count that
        // nothing in it lowers, and with it the 0 our child set: none of our children runs
        // in the fork's memory. Should registering fail (no memory at load), such a fork
        // keeps the flag at 0, as before; nothing else depends on it.
        ::pthread_atfork(lockForFork, unlockInParent, resetInChild);
    }
    void enter() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_inFlight++ == 0) {
            m_saved = static_cast<int>(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
        }
    }
    void leave() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        // PR_SET_DUMPABLE takes only 0 and 1: a 2 (suid_dumpable) noted before is left
        // to whoever set it.
        if (--m_inFlight == 0 && m_saved == 1 && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 1) {
            ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
        }
    }

  private:
    static void lockForFork();
    static void unlockInParent();
    // Runs in every child of fork, the library's own launched children among them, so
    // only the unlock and one prctl: no allocation, no other lock.
    static void resetInChild();

    std::mutex m_mutex;
    long m_inFlight = 0;
    int m_saved = -1;
};

// Not destroyed at exit (std::mutex has a trivial destructor), so a start on another
// thread while the process exits still finds it.
DumpableAcrossStarts g_dumpable;

void DumpableAcrossStarts::lockForFork() {
    g_dumpable.m_mutex.lock();
}

void DumpableAcrossStarts::unlockInParent() {
    g_dumpable.m_mutex.unlock();
}

void DumpableAcrossStarts::resetInChild() {
    if (g_dumpable.m_inFlight > 0 && g_dumpable.m_saved == 1) {
        ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    }
    g_dumpable.m_inFlight = 0;
    g_dumpable.m_mutex.unlock();
}

// Whether a child that takes these credentials changes what the kernel looks at to reset
// the dumpable flag: the effective or filesystem uid or gid (commit_creds). Those of the
// calling thread, the one the child is cloned from. Supplementary groups do not count.
bool changesDumpableCredentials(const JxChildCredentials* credentials) {
    if (credentials == nullptr) {
        return false;
    }
    // An invalid id changes nothing and returns the current filesystem id.
    const uid_t fsuid = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
    const gid_t fsgid = static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1)));
    return credentials->uid != ::geteuid() || credentials->uid != fsuid ||
           credentials->gid != ::getegid() || credentials->gid != fsgid;
}

// One credential-changing start in flight for the life of the object; none for others.
class StartInFlight {
  public:
    explicit StartInFlight(bool counted) : m_counted(counted) {
        if (m_counted) {
            g_dumpable.enter();
        }
    }
    ~StartInFlight() {
        if (m_counted) {
            g_dumpable.leave();
        }
    }
    StartInFlight(const StartInFlight&) = delete;
    StartInFlight& operator=(const StartInFlight&) = delete;

  private:
    bool m_counted;
};

// 0 and the child's id in *child, or the errno of the step that failed.
int startChild(void (*body)(void*), void* argument, bool changesCredentials, pid_t* child) {
    if (body == nullptr) {
        return EINVAL;
    }
    if (!kPlatformSupported) {
        return ENOSYS;
    }
    ChildStack stack;
    if (const int code = stack.map(); code != 0) {
        return code;
    }
    // Until its handlers are reset, a signal delivered to the child would run a handler
    // of the parent on the child's stack in the parent's memory. Blocking everything in
    // the calling thread makes the child start with everything blocked. The raw call,
    // because glibc's sigprocmask quietly leaves out its internal signals, and their
    // handlers are the parent's too.
    const KernelSigset all = everySignal();
    KernelSigset callerMask{};
    if (setSignalMask(SIG_BLOCK, &all, &callerMask) != 0) {
        return errno;
    }
    t_starting.callerMask = callerMask;
    StartRequest request{body, argument};
    const StartInFlight inFlight(changesCredentials);
    t_starting.active = true;
    // CLONE_VM: no page tables are copied, which is the point. CLONE_VFORK: this thread
    // sleeps until the child has executed or ended, so the child's stack, the request and
    // the mask above stay valid as long as it may read them. SIGCHLD: an ordinary child
    // for waitpid. Under emulators that turn this into a plain fork none of that sharing
    // is needed: the child works on its copy.
    const pid_t pid = ::clone(childEntry, stack.top(), CLONE_VM | CLONE_VFORK | SIGCHLD, &request);
    const int cloneError = pid < 0 ? errno : 0;
    t_starting.active = false;
    if (setSignalMask(SIG_SETMASK, &callerMask, nullptr) != 0) {
        // The kernel just gave us this mask, so it cannot be refused. Should it be, this
        // thread would go on with every signal blocked and nobody would know.
        std::abort();
    }
    if (pid < 0) {
        return cloneError;
    }
    *child = pid;
    return 0;
}

pid_t startReportingErrors(void (*body)(void*), void* argument, bool changesCredentials,
                           int* error) {
    // The child writes the calling thread's errno (it runs on this thread's TLS), so the
    // caller gets back the value it had.
    const int savedErrno = errno;
    pid_t child = -1;
    const int code = startChild(body, argument, changesCredentials, &child);
    if (code != 0) {
        if (error != nullptr) {
            *error = code;
        }
        errno = code;
        return -1;
    }
    errno = savedErrno;
    return child;
}

}  // namespace

pid_t JxStartChildSharingMemory(void (*body)(void*), void* argument, int* error) {
    // What body does to its credentials is not known: counted as a change.
    return startReportingErrors(body, argument, true, error);
}

pid_t JxStartChildSharingMemoryAs(void (*body)(void*), void* argument,
                                  const JxChildCredentials* credentials, int* error) {
    return startReportingErrors(body, argument, changesDumpableCredentials(credentials), error);
}

bool JxRunningInChildSharingMemory() {
    // Only the child runs code while the flag is set: the starting thread itself sleeps in
    // clone meanwhile, and no other thread sees this thread's storage.
    return t_starting.active;
}

int JxExecChild(const char* path, char* const argv[], char* const envp[]) {
    if (envp == nullptr) {
        // The kernel would start the program with an empty environment; nobody means that.
        errno = EINVAL;
        return -1;
    }
    const bool started = t_starting.active;
    if (started && setSignalMask(SIG_SETMASK, &t_starting.callerMask, nullptr) != 0) {
        // errno is the system's reason; executing with every signal blocked would hand
        // the program a mask nobody asked for.
        return -1;
    }
    ::syscall(SYS_execve, path, argv, envp);
    const int code = errno;
    if (started) {
        // Cannot fail with a mask the kernel accepted a moment ago; a child that stayed
        // unblocked would only be exposed to default actions, its handlers being reset.
        const KernelSigset all = everySignal();
        setSignalMask(SIG_SETMASK, &all, nullptr);
    }
    errno = code;
    return -1;
}
