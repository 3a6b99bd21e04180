#pragma once

#include <sys/types.h>
#include <atomic>
#include <string>

#include <JxLib/JxExport.h>

struct JxChildCredentials;

// Starts one child process and waits for it. Exit status convention used throughout: the
// child's exit code when it exited, 128 plus the signal number when a signal ended it.
class JxProcess {
  public:
    JXLIB_API JxProcess();
    // Reaps the child if it has already ended, so that a forgotten wait leaves no zombie;
    // a running child is left alone.
    JXLIB_API ~JxProcess();
    JxProcess(const JxProcess&) = delete;
    JxProcess& operator=(const JxProcess&) = delete;

    // Forks. The child runs callback(argument) and, should the callback return, ends with
    // _exit(127). The parent records the child's id and gets true; on failure false with a
    // text in *error (when error is not null) and errno kept from fork(2).
    JXLIB_API bool Fork(void (*callback)(void*), void* argument, std::string* error);

    // The same with the error text in a caller's buffer: on failure at most size - 1
    // characters and a NUL; untouched on success. Defined by the library that needs it.
    bool Fork(void (*callback)(void*), void* argument, char* errorText, int size);

    // Starts the child like Fork, but without copying this process's memory: the child
    // runs callback(argument) in the caller's memory on a stack of its own, and the
    // calling thread waits until the child has executed a program or ended
    // (JxStartChildSharingMemory in <JxLib/JxChildStart.h>). A launch then costs the same
    // in a small and in a large process. Same results as Fork: true with the child's id
    // recorded (GetChildPid, WaitForProcessToEnd); false with a text in *error (when not
    // null) and errno set (EINVAL, EBUSY as for Fork; ENOSYS where the platform cannot
    // start a child this way; else from mmap or clone). Should the callback return, the
    // child ends with _exit(127).
    //
    // The callback runs with every signal blocked and no handler of the parent installed,
    // and must keep to these rules, because it shares the memory of a process whose other
    // threads go on running and may hold any lock:
    //   - no allocation, no lock, no stdio, no pthread_* call, no raise() or abort(): only
    //     async-signal-safe calls and raw system calls;
    //   - credentials only through raw system calls (syscall(SYS_setgroups, ...), SYS_setgid,
    //     SYS_setuid): the C library's versions work on every thread of the parent's
    //     thread list, under its lock, which the child shares;
    //   - write no shared memory, only its own stack (its errno is the calling thread's,
    //     put back before Spawn returns), and read only data the caller prepared before
    //     Spawn and leaves alone until it returns;
    //   - pass nothing back through memory: under emulators the child is a plain fork;
    //   - end with JxExecChild(path, argv, envp), which puts back the caller's signal mask
    //     just before execve, or with _exit.
    // A callback that keeps to these rules also works under Fork.
    JXLIB_API bool Spawn(void (*callback)(void*), void* argument, std::string* error);

    // Spawn for a callback whose credentials the caller declares (null: the child keeps
    // the caller's), so that only a child that changes them counts for the caller's
    // dumpable flag (JxStartChildSharingMemoryAs in <JxLib/JxChildStart.h>).
    JXLIB_API bool SpawnAs(void (*callback)(void*), void* argument,
                           const JxChildCredentials* credentials, std::string* error);

    // The same with the error text in a caller's buffer: on failure at most size - 1
    // characters and a NUL; untouched on success. Defined by the library that needs it.
    bool Spawn(void (*callback)(void*), void* argument, char* errorText, int size);

    // The child's process id, or 0 before a successful Fork.
    JXLIB_API int GetChildPid() const;

    // Waits for the child to end and stores its exit status. timeout is -1 for no limit
    // or a number of milliseconds, after which the wait fails with "timed out" and the
    // child keeps running. Interrupted waits are resumed.
    JXLIB_API bool WaitForProcessToEnd(int* status, std::string* error, int timeout);

    // The same with the error text in a caller's buffer. Defined by the library that
    // needs it.
    bool WaitForProcessToEnd(int& status, char* errorText, int size, int timeout);

    // Runs command with /bin/sh -c and collects its standard output into *output (when
    // output is not null). Returns 0 when the command exited with 0, its exit status
    // when it did not, and -1 when it could not be run (text in *error when not null).
    // reserved and option are accepted for compatibility and not used.
    JXLIB_API static int system(const char* command, std::string* output, std::string* error,
                                int reserved, bool option);

  private:
    // The outcome of a start sharing memory: the child recorded, or the failure reported.
    bool recordSpawned(pid_t pid, int code, std::string* error);

    pid_t m_child;
    // A second waiter (another thread) must learn that the child is gone.
    std::atomic<bool> m_reaped;
};
