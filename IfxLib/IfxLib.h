#pragma once

// The public interface of libIfxLib: starting and talking to Informix utilities as child
// processes, reading ONCONFIG parameters, the agent's settings and identity, token
// splitting and line helpers, and Windows-style operating-system shims.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#define IFXLIB_API __attribute__((visibility("default")))
// Members of an exported class that are the library's own business.
#define IFXLIB_LOCAL __attribute__((visibility("hidden")))

class EvEvent;
class JxProcess;
class JxThread;
namespace ifxlib {
struct ChildLifetime;
struct ChildPreparation;
}  // namespace ifxlib

// ---------------------------------------------------------------------------------------
// Child process control
// ---------------------------------------------------------------------------------------

// Launch parameters carried across the fork by InitializeLinux. The child reads its own
// copy of the block; the strings it points to are heap copies made by SetPostForkParam.
// Each list ends at its first null slot, so at most 19 arguments and 15 pairs count.
struct IfxChildParam {
    char path[4096];
    char* argv[20];
    char* envName[16];
    char* envValue[16];
    char ifxUser[4096];
    int phpipepw[2];
    int phpipecw[2];
    // Set by InitializeLinux after SetPostForkParam: the user, groups, environment and
    // logging context worked out before the fork, so that the child only applies them.
    // Null in a block filled by SetPostForkParam alone (see PostFork).
    ifxlib::ChildPreparation* prepared;
};

// Supervises one child process running an Informix utility: launch, pipes to its
// standard streams, an optional wait thread and its exit status.
//
// Calling order: construct; launch once (Initialize or InitializeLinux); WriteBuf and
// ReadBuf while the child runs; BeginWait, Wait, WaitFor or Stop; Finalize; destroy. The
// public data members are the object's report to the caller and may be read after every
// call.
//
// Ownership: the object owns the parent's pipe ends it creates (closed by Finalize, or by
// the destructor when nobody called Finalize), the JxProcess and JxThread it creates, and
// the EvEvent that Initialize creates for a caller that gave none, and the child's process
// descriptor. A caller's EvEvent must outlive the object. The destructor closes the pipe
// ends the object still holds (so that a child waiting for the end of its input ends),
// then waits for the wait thread before it releases anything else, the process descriptor
// last; it never signals the child and, without a wait thread, never waits for it (a
// watcher thread, see WaitFor, still watching a running child ends with the child).
//
// Launches and the process environment: a launch copies the environment, its array and
// its strings (and with it IFXLIB_LAUNCH, JX_LOG_FILE and JX_DEBUG_LEVEL), into memory of
// its own under one library-wide lock, which SETENVIRONMENTVARIABLE and
// GETENVIRONMENTVARIABLE take too, and releases the lock before it starts the child; every
// child, with pairs or without, executes its program with that copy. Agent code that
// changes the environment through those shims is therefore safe beside a launch, and once
// the copy is made even raw setenv or putenv cannot reach the program; raw setenv,
// unsetenv or putenv on other threads while the copy is being made are not safe, and
// keeping them away from launches is the caller's business. User and group lookups and the
// start of the child happen outside the lock: a name service or an exec that hangs holds
// the launching thread alone, which (as a caller of posix_spawn) waits until a child
// sharing the agent's memory has executed its program or ended.
//
// Core dumps: a child that shares the agent's memory and switches user makes the kernel
// reset the agent's dumpable flag (the child's credential change applies to the memory it
// runs in). Launches in flight whose child changes the effective or filesystem uid or gid
// are counted process-wide; once none is left, a flag that was 1 before the first of them
// is 1 again, so a later crash of the agent still leaves a core file. A launch without such
// a change (no user, the agent's own, root to root) never touches the flag. What remains:
// while any such launch's child has not yet executed its program (an exec that hangs on a
// dead mount, say), the flag stays 0, and a crash of the agent in that time leaves no core
// file; it is never set back earlier, as a dumpable child running as the Informix user
// could be attached by that user's processes. And an agent that sets the flag itself while
// such a launch is in flight may find it set back to the value noted when the first began.
// A process the agent forks meanwhile starts with none in flight and that noted value.
//
// The child: before it executes the program it resets every caught signal to its default
// (ignored ones stay ignored, but SIGPIPE, which the launch ignores in the agent, is
// restored to its default just before exec), and it logs only through the log file or a
// copy of the agent's standard error, never through the program's standard streams.
class IFXLIB_API IfxChildProcess {
  public:
    IfxChildProcess();
    ~IfxChildProcess();
    IfxChildProcess(const IfxChildProcess&) = delete;
    IfxChildProcess& operator=(const IfxChildProcess&) = delete;

    // Forks and executes path directly. 0 in the parent once the child exists; -1 with
    // m_lasterror set when a step up to the fork failed: EINVAL for a null path, EBUSY on
    // an object that has launched before (each object launches once, and a launch that
    // failed after its argument checks counts; nothing of the first launch is touched).
    // A failed start (fork's EAGAIN, say) leaves its -1 in m_childpid: check the result,
    // and never signal or wait for an m_childpid of 0 or less, since kill(-1, ...) signals
    // every process the agent may signal and waitpid(-1, ...) reaps any of its children.
    // The child is never reaped here, and Wait and BeginWait cannot report its status:
    // WaitFor or Stop reap it, or the caller's own waitpid(m_childpid), never both. A
    // child that fails before exec ends with 81 (user), 77 (streams) or 79 (exec).
    //
    // The sleep marker /tmp/clifxagentchild.sleep holds the child before it does anything,
    // but only while it is a regular file (not a symbolic link) owned by root or by the
    // agent's effective user and writable by its owner alone; any other marker is ignored
    // with one log line.
    int Initialize(char* path, char** argv, char* ifxUser, char** envName, char** envValue,
                   EvEvent* event, bool option1, bool nonBlocking, bool option3, void* reserved);
    // Launches through the process service, which Wait and BeginWait then use. path and
    // ifxUser are required and the child always switches to ifxUser. -1 before any fork
    // when the launch does not fit the parameter block (EINVAL, ENAMETOOLONG, E2BIG in
    // m_lasterror), on an object that has launched before (EBUSY), or when a step failed;
    // 0 once the child runs. m_childpid is set only by a successful start.
    int InitializeLinux(char* path, char** argv, char* ifxUser, char** envName, char** envValue,
                        EvEvent* event, bool option1, bool nonBlocking, bool option3,
                        void* reserved);

    // Sends text and its NUL in one write. 0, or -1 with the errno value (or -2 for a short
    // write) in m_lasterror; a failed write finalizes the object. A write interrupted by a
    // signal handler installed without SA_RESTART is not resumed: -1 with 4 (EINTR); with
    // SA_RESTART the kernel restarts it and the call goes on. EBADF once the object no
    // longer holds the pipe (after Finalize), whatever now has that descriptor number.
    int WriteBuf(char* text);
    // One read of up to size bytes into the zero-filled buffer. 0 when data arrived; -1
    // with m_lasterror 32 at the end of the output, 11 when a non-blocking read finds
    // nothing (or the end before the wait thread has finished), 22 (EINVAL) for a null
    // buffer or a size of 0 or less, EBADF once the object no longer holds the pipe, else
    // the errno value. A read interrupted by a signal handler installed without SA_RESTART
    // is not resumed: -1 with 4 (EINTR), so such a signal can free a blocked caller; with
    // SA_RESTART the kernel restarts the read, which goes on waiting for data. While a
    // wait thread runs, m_lasterror may already hold its status when the caller reads it:
    // decide by the result, m_beof and the wait flags.
    int ReadBuf(char* buffer, long size);

    // Starts the wait thread, which sets m_bwaitstarted, then m_bwaitdone or m_bwaitfailed.
    // 0, or -1 with the thread-creation error in m_lasterror and m_exitcode. One wait
    // thread per object: once one was started, BeginWait returns -1 at once and leaves
    // every report member as the first wait left it.
    //
    // While the wait thread runs it may change m_lasterror, m_exitcode and the wait flags
    // under the caller: it stores the child's non-zero status (or 0 when there is no
    // status) in m_lasterror just before it sets m_bwaitfailed, and otherwise never
    // touches m_lasterror, which ReadBuf and WriteBuf go on using.
    int BeginWait();
    static void* WaitThreadFunction(void* object);
    void WaitThread();
    // Blocks until the child ends; timeout is not consulted. 0, the child's non-zero
    // status (exit code, or 128 + signal), or -1 when there is no status to report.
    // Clears m_lasterror on entry. Wait, the wait thread, WaitFor and Stop reap through one
    // lock and keep the status, so whichever reaps first, the others get the same status:
    // Wait beside a running wait thread, or after WaitFor, is safe, on every kernel. -1
    // after Initialize, whoever reaped the child, and -1 when someone outside the object
    // reaped it (see "Reaping" below).
    int Wait(unsigned long timeout);

    // Closes the pipe ends the object still holds, and the child's ends that a launch
    // which failed after making its pipes left open. Always 0; safe to call again. The
    // child's process descriptor stays until the destructor, so that Stop, WaitFor and
    // SendSignal still work after Finalize (and a wait thread may still be watching it).
    int Finalize();

    // ---- Bounding and ending the child's life ----------------------------------------
    //
    // The calls below report their errors through errno alone: never through m_lasterror,
    // which the wait thread writes and where a status of 110 could not be told from
    // ETIMEDOUT. Statuses are those Wait reports: 0, the exit code, or 128 + signal.
    //
    // The same results on every kernel from Linux 3.10. The launch opens the child's
    // process descriptor (pidfd, Linux 5.3) where the kernel has one; the destructor closes
    // it. The child is watched without reaping it (WEXITED | WNOWAIT) and reaped only under
    // the object's lock, which every signal takes too: while the child is unreaped its
    // number cannot be reused, so where a signal must go by number (no descriptor, or the
    // group before Linux 6.9) it is as safe as one through the descriptor. With a
    // descriptor: pidfd_send_signal, PIDFD_SIGNAL_PROCESS_GROUP for the group (6.9),
    // waitid(P_PIDFD) to check and reap (5.4). A kernel, emulator or container that refuses
    // one of these calls (ENOSYS, EINVAL for a flag, EPERM from an older seccomp profile)
    // gets the number instead, for that child; another error (EMFILE, say) only means this
    // child has no descriptor. Without a descriptor, a bounded wait (WaitFor, Stop's grace)
    // and ExitDescriptor need a watcher thread of the library's, started the first time one
    // of them is asked for: it blocks all signals, waits in waitid(P_PID, ..., WNOWAIT)
    // and ends by itself when the child ends, also when the object was destroyed first.
    //
    // Reaping: the object reaps the child (after InitializeLinux through the process
    // service, which reaps by number: the object first checks, without reaping, that the
    // child is still its own and unreaped). Unsupported agent settings that reap behind
    // the object: SIGCHLD set to SIG_IGN, SA_NOCLDWAIT, a waitpid(-1) reaper, a waitpid of
    // its own on m_childpid. The calls find such a child gone when they check (through the
    // descriptor: certain; by number: they see ECHILD, unless another child of the agent
    // took the number meanwhile) and then give -1 with errno ECHILD, WaitFor within its
    // bound, and send nothing by number. A signal by number follows such a check under
    // the lock, which narrows the window against a foreign reaper but cannot close it: a
    // process that takes the number between the check and kill(2) would get the signal.
    // With a process descriptor (and, for the group, Linux 6.9) no signal can reach a
    // stranger. The descriptor is opened by number right after the start (the process
    // service's fork returns a number) and checked to be the unreaped child at once, so a
    // child reaped elsewhere at once (SIGCHLD ignored, a program that fails at once) leaves
    // the object without one: the calls then give ECHILD.

    // Launch options, set before Initialize or InitializeLinux (no effect on a child
    // already started). 0, the default: the utility shares the agent's process group and
    // has no tie to the agent's life.
    //
    // kOwnProcessGroup: the child leads a process group of its own (setpgid before exec,
    // and by the parent too, so that a stop right after the launch cannot miss the group).
    // Stop and SendSignal then signal the whole group, so processes the utility started go
    // too, unless they left the group (setsid, setpgid); Stop empties the group (see Stop).
    // Once the leader is reaped nothing is sent (ESRCH). Off by default: outside the terminal's
    // foreground group a utility that reads the terminal is stopped by SIGTTIN, and callers may
    // rely on sharing the agent's group.
    //
    // kStopWithLauncher: the kernel kills the utility (SIGKILL) when the launching thread
    // ends (PR_SET_PDEATHSIG, set after the user switch, which clears it, and followed by
    // a check that the launcher still lives). The launch returns only once the child has
    // set it (or failed, or ended), after the forked start too, so a thread that ends
    // right after the launch takes the utility with it. A child the sleep marker holds is
    // held before that point, so such a launch waits until the marker is removed. It
    // fires when the thread that called the launch ends, not only the process: an agent that
    // launches from short-lived worker threads must not use it. It reaches the utility process
    // alone, not what it forked (combine with kOwnProcessGroup and Stop for those), and executing a
    // set-user-ID, set-group-ID or file-capability program clears it.
    static constexpr unsigned kOwnProcessGroup = 1U << 0;
    static constexpr unsigned kStopWithLauncher = 1U << 1;
    void SetLaunchOptions(unsigned options);

    // Waits at most milliseconds for the child to end; a negative bound, or one the clock
    // cannot reach (beyond 2^62 ns, about 146 years: LONG_MAX, say), is no bound. Its
    // status once it has ended; -1 with errno ETIMEDOUT when the bound passed (the child
    // untouched: a later call may wait again), ECHILD when there is no child (no launch,
    // a failed launch, or a child reaped outside the object, see "Reaping"), what
    // starting the watcher failed with (EAGAIN, EMFILE; without a process descriptor and
    // with a bound only), or what poll or waitpid failed with. A Stop under way in
    // another thread is waited for within the bound. Beside a running wait thread it waits for the
    // status that thread stores (its report members are set by the time WaitFor returns);
    // otherwise it reaps the child itself, after either launch (after InitializeLinux, Wait
    // or a later wait thread then reports the same status; after Initialize they never
    // have one). Signals do not cut the wait short.
    int WaitFor(long milliseconds);

    // Ends the child: SIGTERM, then SIGCONT (a stopped utility, by SIGSTOP or by SIGTTIN
    // reading the terminal from its own group, runs its handler or dies of SIGTERM only
    // once continued), up to graceMilliseconds for it to end, then SIGKILL and up to
    // 10 seconds more (a process in uninterruptible sleep, on a hung mount say, may not
    // die at once: -1 with ETIMEDOUT after that, the child left to a later call). The status
    // otherwise (128 + the signal when one ended it). A grace that is no bound (negative,
    // or beyond the clock, as for WaitFor) sends SIGTERM and SIGCONT and waits without
    // bound. A child already reaped gives its status and nothing is sent. With
    // kOwnProcessGroup every signal goes to the whole group, and Stop empties it: the
    // leader is kept unreaped meanwhile (its zombie holds the group's number), Stop waits
    // out the grace for the leader and for every other member, then sends SIGKILL to the
    // group if anything is left, and only then reaps the leader; the status stays the
    // leader's. No event says a group is empty: once the leader has ended, Stop looks for
    // other members in /proc at once and then after 1, 2, 4, ... up to every 50 ms (each
    // look reads every process's stat line), so a utility that ends at once but leaves a
    // process that ignores SIGTERM takes the whole grace. Meanwhile the wait thread, Wait
    // and WaitFor hold off reaping; a second Stop gets the first one's result. Errors as
    // SendSignal's and WaitFor's. Stop reads nothing from the output: a utility whose SIGTERM
    // handler writes into a full pipe ends only by SIGKILL, so call Finalize first when the output
    // is no longer wanted.
    int Stop(long graceMilliseconds);

    // Sends one signal (0 only checks) to the child, or to its group with kOwnProcessGroup,
    // without waiting; exactly that signal (no SIGCONT follows, unlike Stop). 0 when sent
    // (to an ended but unreaped child too, which it does not reach); -1 with errno ESRCH
    // once the object reaped the child (nothing sent), ECHILD without a child or for a
    // child reaped outside the object (nothing sent), EINVAL for an invalid signal, or what
    // pidfd_send_signal or kill failed with (EPERM).
    int SendSignal(int signal);

    // A descriptor that polls readable (POLLIN) once the child has ended, for a caller's
    // own poll loop over the output and the end at once; it stays readable. The process
    // descriptor, or without one an eventfd the watcher makes readable (the first call
    // starts the watcher). The object owns it (closed by the destructor): never close it
    // or read from it. -1 with errno ECHILD without a child, or what starting the watcher
    // failed with (EMFILE, EAGAIN).
    int ExitDescriptor() const;

    // Why the launch's child did not reach its program. 0 once it executed the program
    // (*step 0); the errno of the step that failed (ENOENT, EACCES, ENOEXEC, EPERM, ...)
    // with, in *step when step is not null, the exit code the child ends with for it: 81
    // (user and groups), 77 (standard streams), 79 (exec, and the launch options' own
    // steps). A user that does not exist has no errno of its own: ENOENT with 81. -1 with
    // errno EINPROGRESS while the child may still be before exec, ECANCELED for a child that
    // ended before it was known to have reached its program (killed before exec with no
    // step failed: the sleep marker held it, say), ECHILD without a launched child. The
    // child records that it reached exec right before the call, so a child killed inside
    // the exec call itself (a program on a hung mount) counts as having executed; a
    // program that ran, however briefly, never gives ECANCELED. Once the child has ended
    // (WaitFor, Stop, Wait returned its status) the answer is final, even while another
    // process the agent forked meanwhile still holds a copy of the report pipe. After
    // the shared-memory start (the default) a failure is known when the launch returns; a
    // success a moment later, once the kernel has closed the new program's close-on-exec
    // descriptors, which it does just after it lets the launching thread go. After a
    // forked start (IFXLIB_LAUNCH=fork, sanitizer builds, a sleep marker) the launch does
    // not wait for the child, and the answer comes once the child executed or failed. Nothing else
    // changes: the launch still succeeded, the child still ends with that code after its log line,
    // and Wait still reports it.
    int LaunchError(int* step) const;

    // ---- Plain byte streams ----------------------------------------------------------

    // Writes length bytes to the child's standard input, as they are (no NUL appended).
    // The count written, which is length unless a write failed or a signal handler
    // interrupted it after part of the bytes went: then the count so far at once (as
    // write(2) reports it; nothing is resumed after a signal, and the next call gives a
    // failure's error); -1 with errno when
    // no byte went: EINTR for a signal, EPIPE once the child closed its input, EAGAIN never
    // (the input pipe blocks), EBADF after CloseInput or Finalize, EINVAL for null data
    // with a length. Leaves m_lasterror alone and never finalizes the object.
    long WriteBytes(const void* data, size_t length);

    // One read of up to size bytes of the child's output (standard output and error), NUL
    // bytes and all. The count; 0 at the end of the output (every writer closed it); -1
    // with errno: EAGAIN when the launch was non-blocking and nothing is there, EINTR when
    // a signal handler interrupted it (not resumed), EBADF after Finalize, EINVAL for a null
    // buffer or a size of 0. The buffer beyond the count is left as it was.
    long ReadBytes(void* buffer, size_t size);

    // Closes the parent's end of the child's standard input, so that the utility sees the
    // end of its input. Always 0; calling it again does nothing. WriteBytes and WriteBuf
    // then fail with EBADF.
    int CloseInput();

    // Fills block (zero-filled first, copies of at most 19 arguments and 15 pairs). A null
    // block is left alone; a null path or ifxUser is carried as empty, and a null pipe
    // array as descriptors -1, so that such a child fails at its streams (exit 77).
    void SetPostForkParam(IfxChildParam* block, char* path, char** argv, char** envName,
                          char** envValue, char* ifxUser, int* phpipepw, int* phpipecw);
    // Unpacks block into the caller's zero-filled arrays: at most 19 argument and 15 pair
    // entries, so each array keeps a null after its last entry even when the block's
    // slots are all set. Null arguments are skipped.
    static void GetPostForkParam(IfxChildParam* block, char* path, char** argv, char** envName,
                                 char** envValue, char* ifxUser, int* phpipepw, int* phpipecw,
                                 EvEvent* event);
    // The post-fork callback of InitializeLinux; runs in the child and never returns. A
    // block that InitializeLinux did not fill (prepared is null) makes the child look up the
    // user, build the environment and make its EvEvent itself, after the fork: lookups and
    // allocations that can deadlock in a child of a multi-threaded process. They need a
    // child of fork: in a child sharing the parent's memory (JxProcess::Spawn) PostFork
    // logs "PostFork needs a block prepared by InitializeLinux in a child sharing the
    // parent's memory" to standard error and ends the child with 79 instead. A null block
    // ends the child with exit code 79.
    static void PostFork(void* argument);

    JxProcess* m_pprocess;
    std::atomic<int32_t> m_lasterror;
    int32_t m_childpid;
    int m_phpipepw[2];
    int m_phpipecw[2];
    EvEvent* m_pevent;
    bool m_boption1;
    std::atomic<bool> m_bwaitstarted;
    std::atomic<bool> m_bwaitdone;
    std::atomic<bool> m_bwaitfailed;
    JxThread* m_pthread;
    bool m_bnonblocking;
    bool m_beof;
    bool m_boption3;
    std::atomic<int64_t> m_exitcode;

  private:
    // Descriptors 0-2, SIGPIPE, both pipes and the non-blocking flag, shared by the two
    // launches. 0, or -1 with m_lasterror set and the failure logged under tag.
    IFXLIB_LOCAL int PrepareLaunch(const char* tag, const char* redirectFailedFormat);
    // After the fork the parent keeps only its own two ends.
    IFXLIB_LOCAL void CloseChildEnds();
    IFXLIB_LOCAL void CloseIfOwned(int descriptor, bool& owned);
    // Wait's work; the wait thread calls it without clearing m_lasterror.
    IFXLIB_LOCAL int WaitForEnd(bool clearLastError);
    // EBUSY (logged under tag) when the object has launched before.
    IFXLIB_LOCAL int RefuseSecondLaunch(const char* tag);
    [[noreturn]] IFXLIB_LOCAL void RunDirectChild(char* path, char** argv, char* ifxUser,
                                                  char** envName, char** envValue,
                                                  const ifxlib::ChildPreparation& prepared);

    // Which pipe ends this object still has to close. The descriptor members keep their
    // numbers after a close, so the numbers alone cannot say whether they are ours.
    bool m_bownpipepw[2];
    bool m_bownpipecw[2];
    // What the object keeps beyond the members above: the event Initialize made for a
    // caller that gave none, the launch options, the child's process descriptor and
    // reaped status, and the launch's error report. One pointer of the object's own, so
    // that the class keeps its size and layout and agents built against the earlier
    // header keep working without a new soname. Released by the destructor.
    ifxlib::ChildLifetime* m_plifetime;
    // Set once a launch has passed its argument checks: later launches are refused.
    bool m_blaunched;
};

// ---------------------------------------------------------------------------------------
// Informix configuration
// ---------------------------------------------------------------------------------------

// Copies into value the second field of the first non-comment line of the ONCONFIG file
// whose first field is exactly paramName (case-sensitive; fields are separated by blanks
// and tabs). A second field that begins with "#" is a comment: the parameter then has no
// value, and as the first match it still ends the search. 0 when value is non-empty
// afterwards; -1 when the file cannot be read or is empty (value untouched), when nothing
// was found into an empty value, or for a null argument. value must be large enough for
// any value of the file, which the file decides: prefer the form with a capacity below.
// Only a regular file of at most 16 MiB is read; anything else (a FIFO, a device, a larger
// file) cannot be read, at once and without blocking.
IFXLIB_API int ReadFromOnconfig(const char* onconfigPath, const char* paramName, char* value);

// The same search and log lines, bounded: never writes more than capacity bytes into value
// and never reads what value held before. 0 with the value and its NUL when the first
// matching line has a value that fits; otherwise -1, value untouched, and errno says why:
// the read's error when the file cannot be read (EINVAL for no regular file, EFBIG for
// more than 16 MiB), ENODATA for an empty file or when the matching line has no value,
// ENOENT when no line names the parameter, ERANGE when the value and its NUL need more
// than capacity bytes (logged with both sizes), EINVAL for a null argument or a capacity
// of 0. A missing file and a missing parameter both give
// ENOENT: a caller that must tell them apart looks at the file itself.
IFXLIB_API int ReadFromOnconfig(const char* onconfigPath, const char* paramName, char* value,
                                size_t capacity);

// ---------------------------------------------------------------------------------------
// Agent settings and identity
// ---------------------------------------------------------------------------------------

// "InformixAgent", the agent's settings section, and "Hubmaster".
IFXLIB_API extern const char c_ifxSubKey[];
IFXLIB_API extern const char c_hubMaster[];

// Reads item name of the c_ifxSubKey section, trimmed of white space, into value (size
// bytes with the NUL). 0 on success; -1 when value is null or size 0 (untouched), or when
// the item is missing or does not fit (value empty). section and option are not used.
// CheckRegistryItemValue: 1 when the item can be read into 128 bytes, else 0.
IFXLIB_API int GetRegistryItemValue(const char* name, char* value, unsigned int size,
                                    const char* section, bool option);
IFXLIB_API int CheckRegistryItemValue(const char* name, bool option);

// Client and instance names from the options "-cn" and "-vm" when argc > 1, else from
// JxClientName and JxInstanceName. 0 or -1; a name that does not fit in size bytes is a
// failure and leaves name untouched. With arguments but no "-cn", GetClientName returns 0
// and leaves name as it was (even a null name). Otherwise a null name gives -1.
IFXLIB_API int GetClientName(int argc, char** argv, char* name, unsigned int size);
IFXLIB_API int GetInstanceName(int argc, char** argv, char* name, unsigned int size);
// INFORMIXSERVER (at most 511 characters) into sid: 0, or -1 logged with sid unchanged.
IFXLIB_API int GetIfxSID(std::string& sid);
// The host's temporary directory with a trailing "/", and the event manager's log
// directory as stored. 0, or -1 with path empty (untouched when null or size <= 0); a
// directory that does not fit in size bytes with its NUL is a failure.
IFXLIB_API int GetOrreryBaseTempPath(char* path, int size);
IFXLIB_API int GetOrreryLogFilesPath(char* path, int size);

// ---------------------------------------------------------------------------------------
// Text utilities
// ---------------------------------------------------------------------------------------

// Copies the tokens of str (maximal runs of bytes not in separators; with two sets, not in
// either) into tokens, which must have room for all of them, each token its own malloc
// block. The number of tokens, or -1: EINVAL for a null argument, EOVERFLOW for a str of
// more than INT_MAX bytes (nothing allocated), or a failed allocation (logged); tokens
// stored before a failure stay with the caller, the failed entry is null.
IFXLIB_API int split(const char* str, char** tokens, const char* separators);
IFXLIB_API int split(const char* str, char** tokens, const char* separators,
                     const char* subSeparators);
// A new array of exactly the tokens of str, their number in *count; release it with
// free_split_array. Null with nothing left allocated: EINVAL for a null argument and
// EOVERFLOW for a str of more than INT_MAX bytes (*count not written either time), or a
// failed allocation (logged). free_split_array releases count entries (nulls skipped) and
// the array.
IFXLIB_API char** CommandLineToArgv(const char* str, int* count, const char* separators);
IFXLIB_API char** SplitLine(const char* str, int* count, const char* separators,
                            const char* subSeparators);
IFXLIB_API void free_split_array(int count, char** tokens);

// White space (ASCII only, never a byte of 0x80 or above) removed at both ends in place:
// the end is cut with NULs, the returned pointer skips the start. Any length.
IFXLIB_API char* TRIM(char* str);
// strtok_r under the name shared code uses.
IFXLIB_API char* STRTOK(char* str, const char* delim, char** saveptr);
// Replaces every symb1 in str by symb2 in place (a NUL symb2 ends str at the first one)
// and returns str; symb1 NUL or equal to symb2 changes nothing.
IFXLIB_API char* ChangeSymb1ToSymb2(char* str, char symb1, char symb2);
// Length of the line before the first separator in text; the separator's length when text
// starts with it; the length of text when there is none. Never negative: a length beyond
// INT_MAX is given as INT_MAX with errno EOVERFLOW (errno is otherwise left alone), so that
// a caller reading or skipping that many bytes stays inside the line.
IFXLIB_API int GetNextLine(char* text, const char* separator);

// ---------------------------------------------------------------------------------------
// Windows-style operating-system shims
// ---------------------------------------------------------------------------------------

// The calling thread's errno.
IFXLIB_API int GETLASTERROR();

// 0 when name is not set; the length of the value when it fits in size bytes with its
// NUL (copied into buffer); the length plus one when it does not (buffer untouched). The
// value is trimmed of white space in the process environment itself first; an entry with
// nothing to trim is only read, so one in read-only memory is safe unless it needs
// trimming.
IFXLIB_API unsigned int GETENVIRONMENTVARIABLE(const char* name, char* buffer, unsigned int size);

// 1 when name=value was added to the environment, 0 when not (errno tells why). The
// entry is never freed: it belongs to the environment from then on.
IFXLIB_API int SETENVIRONMENTVARIABLE(const char* name, const char* value);

// getppid() and getpid() respectively, kept under the names shared code expects.
IFXLIB_API int GET_CURRENTPROCESSID();
IFXLIB_API int GET_CURRENTTHREADID();

// The parent process id of pid as /bin/ps reports it, or -1 when ps could not run or
// failed (for example, no such process).
IFXLIB_API int GET_PARENTPID(int pid);

// "MM_DD_YYYY-hh:mm:ss" of time in local time (the year has as many digits as it needs),
// in one static buffer that every call overwrites; empty for a time the C library cannot
// convert. TZ is read again at every call, so a zone changed at run time is followed; a
// change through SETENVIRONMENTVARIABLE on another thread is taken whole, before or after,
// while setenv, putenv or unsetenv of TZ on another thread during the call races with it,
// as with any reader of TZ.
IFXLIB_API char* CreateDateString(long time);

// Moves a file by hard link, replacing an existing target. 0, or -1 with errno set; the
// target is replaced only once the new link exists, so a failure keeps it. Both paths
// naming one directory entry (however spelled) is a move onto itself: 0, nothing changes.
// Two hard links of one file are two entries: the source's name is removed.
IFXLIB_API int jxrename(char* from, char* to);
