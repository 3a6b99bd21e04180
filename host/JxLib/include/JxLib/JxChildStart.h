#pragma once

#include <sys/types.h>

#include <JxLib/JxExport.h>

// Starting a child process without copying the caller's address space.
//
// fork() copies the page tables of everything the process has touched, so its cost grows
// with the size of the agent, the agent's other threads stall on copy-on-write faults
// meanwhile, and under strict overcommit a large agent cannot fork at all. The child
// started here instead runs in the caller's memory, on a stack of its own, until it
// executes a program or ends (clone with CLONE_VM | CLONE_VFORK, as posix_spawn does).
//
// JxStartChildSharingMemory(body, argument, error)
//   Runs body(argument) in a new child process. The calling thread is suspended until the
//   child has executed a program (execve succeeded) or ended; the caller's other threads
//   keep running meanwhile, in the memory the child shares. Returns the child's process
//   id (> 0); the caller owns the child and must wait for it (waitpid, or JxProcess), or
//   it stays a zombie. errno is left as it was.
//   On failure returns -1 and no child exists; the reason is in errno and in *error when
//   error is not null: EINVAL (body is null), ENOSYS (a Linux architecture whose stack or
//   signal interface this code does not know: mips, sparc, alpha, hppa), or what mmap(2),
//   mprotect(2), rt_sigprocmask(2) or clone(2) failed with (ENOMEM, EAGAIN, EPERM under a
//   seccomp filter, ...). Thread-safe: every call maps its own stack.
//
// What the child gets before body runs:
//   - a stack of its own of JxChildStackBytes bytes with an inaccessible guard page below
//     it, unmapped by the parent after the child has executed or ended;
//   - every signal blocked (glibc's internal ones included), so that nothing runs on its
//     stack before it is ready;
//   - every signal the process catches set back to its default action; ignored signals
//     stay ignored and default ones stay default, as an exec would leave them;
//   - a copy of the caller's descriptor table and credentials (not shared with it).
//   Should body return, the child ends with _exit(127); so it does when a handler could
//   not be reset (body does not run then).
//
// Rules for body (the child writes into the caller's memory, and another thread of the
// caller may hold any lock at the moment of the clone):
//   - no heap allocation, no lock, no stdio, no pthread_* call, no raise() or abort():
//     only async-signal-safe functions and raw system calls;
//   - change credentials with raw system calls (syscall(SYS_setgroups, ...),
//     syscall(SYS_setgid, ...), syscall(SYS_setuid, ...)): the C library's setuid and
//     friends walk their process's thread list under its lock, marking and signalling
//     every thread, and in the child that list is the caller's: the child would write
//     into the descriptors of threads that go on running and could wait on them;
//   - write no memory but its own stack (errno is the exception: the child's errno is the
//     calling thread's, which is suspended; it is restored before the caller resumes);
//     everything it reads (paths, argument vectors, environment, user ids, descriptors)
//     must have been prepared by the caller and must not change until the call returns;
//   - do not rely on sharing: nothing may be passed back through memory, since some
//     environments (qemu-user among them) run the child as a plain fork; the parent
//     learns of the child's fate from its exit status and from pipes;
//   - end only with JxExecChild (or execve after restoring the mask), or with _exit.
// The call does not return to the caller before the child has executed or ended, so a
// body that blocks (on a pipe nobody writes, say) blocks the calling thread too.
//
// The caller's dumpable flag (prctl PR_GET_DUMPABLE): a body that changes credentials
// makes the kernel reset the flag of the memory it runs in, the caller's, to the system's
// suid_dumpable (normally 0), and the caller would leave no core file from then on. The
// credential-changing starts in flight are counted process-wide: the first notes the flag,
// and when the last has returned (its child executed or ended) a flag that was 1 is set to
// 1 again. It is never set back while any child of such a start may still run before its
// exec, since a dumpable child running as another user could be attached by that user's
// processes, and its memory is the caller's. So a start whose child hangs before or in its
// exec (a program on a hung mount) keeps the flag at 0 for as long as it hangs, and a flag
// that the caller itself changes while such starts are in flight may be set back to the one
// noted. This function does not know what body does to its credentials and counts every
// start; JxStartChildSharingMemoryAs counts only those that change them. A process forked
// meanwhile starts with no start in flight and the flag as noted (a pthread_atfork child
// handler): none of these children runs in its memory.
JXLIB_API pid_t JxStartChildSharingMemory(void (*body)(void*), void* argument, int* error);

// The user and group ids a body sets before it executes (setgid and setuid as root set the
// real, effective, saved and filesystem ids).
struct JxChildCredentials {
    uid_t uid;
    gid_t gid;
};

// JxStartChildSharingMemory for a body whose credentials the caller declares: null when
// the child keeps the caller's, else the ids it sets. Only a child that changes the
// effective or filesystem uid or gid of the calling thread makes the kernel reset the
// dumpable flag (supplementary groups alone, or root setting uid 0, do not), and only such
// a start is counted: one without that change never touches the flag.
JXLIB_API pid_t JxStartChildSharingMemoryAs(void (*body)(void*), void* argument,
                                            const JxChildCredentials* credentials, int* error);

// Whether the calling code runs in a child that JxStartChildSharingMemory started and that
// has not executed its program yet: code that must not allocate or take locks there (it
// would do so in its parent's memory) can ask before it does. False in the parent and its
// threads and in a child of fork. Under emulators that start such a child as a plain fork
// it is true as well, the child not knowing the difference. Async-signal-safe: one read
// of the calling thread's storage, no system call.
JXLIB_API bool JxRunningInChildSharingMemory();

// Size of the stack a child of JxStartChildSharingMemory runs on, guard page not included.
// Enough for two 4096-byte paths, a 16 KiB user record, a 4 KiB log line with its escaped
// form and vsnprintf, with room to spare; only the pages the child touches cost memory.
constexpr unsigned long JxChildStackBytes = 256UL * 1024;

// For a child's last step: puts back the signal mask the starting thread had when it
// called JxStartChildSharingMemory, then executes path with argv and envp (execve(2)).
// Returns only on failure: -1 with errno (EINVAL for a null envp, else from execve) and
// every signal blocked again, so that the child can log and _exit in the state it had
// before. envp must not be null: pass an environment the caller prepared (reading environ
// in the child could meet another thread of the caller replacing it).
// In any other process (a child of fork, say) it leaves the mask as it is and only
// executes, so one child body can serve both ways of starting a child.
JXLIB_API int JxExecChild(const char* path, char* const argv[], char* const envp[]);
