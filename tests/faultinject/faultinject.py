#!/usr/bin/env python3
"""System-call fault injection across the library's public interface.

For each operation of the driver (ifxtest_fault_driver), on both launch engines where the
operation launches, the run

 1. records the operation under strace (every system call, every thread and child, until
    the child executes its program) and numbers the calls of each system call per traced
    process, as strace's own injection counter does;
 2. derives one row per (operation, system call, occurrence, error): strace
    -e inject=SYSCALL:error=ERRNO:when=N makes the N-th call of SYSCALL fail in every
    traced process that makes one, so a row names every call it hits, and the errors are
    those the first call hit can return with the library's arguments (SITES);
 3. runs every row under a time bound that only catches hangs and checks: no crash, no
    hang, no descriptor, thread, child or zombie left once the object is finalized and
    destroyed and the child reaped (descriptors not when close itself fails: an injected
    close skips the real one, which Linux never does), and the documented result of the
    call that failed (the operation's result and error code, the child's exit status and
    the log line, jxrename's target).

Usage: faultinject.py --build build/default [--jobs 2] [--only REGEX] [--list]
"""

import argparse
import collections
import concurrent.futures
import dataclasses
import errno
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROW_TIME_BOUND = 60  # seconds; a row takes well under one, so only a hang reaches it
ATTACH_TIME_BOUND = 30


# --- Operations --------------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Operation:
    name: str  # the row's name for it
    driver: str  # the driver's operation
    engine: str  # "shared", "fork" or "" (no launch)
    log: str = "log"  # where the log goes: the file "log", or "stderr" (JX_LOG_FILE unset)

    @property
    def launches(self):
        return self.engine != ""


OPERATIONS = [
    Operation(f"{call}@{engine}", call, engine)
    for call in ("Initialize", "InitializeLinux.Wait", "InitializeLinux.BeginWait")
    for engine in ("shared", "fork")
] + [
    # An agent detached from its terminal: the launch fills 0 to 2 with "/dev/null" first.
    Operation("Initialize.nostdio@shared", "Initialize.nostdio", "shared"),
    Operation("InitializeLinux.Wait.nostdio@fork", "InitializeLinux.Wait.nostdio", "fork"),
    # Logging to standard error: the child's lines must go to a copy of it, never into the
    # program's output.
    Operation("Initialize.stderrlog@fork", "Initialize", "fork", "stderr"),
    Operation("InitializeLinux.Wait.stderrlog@shared", "InitializeLinux.Wait", "shared", "stderr"),
] + [Operation(call, call, "") for call in
     ("ReadFromOnconfig", "GetRegistryItemValue", "jxrename", "GET_PARENTPID", "Log")]


# --- Running the driver under strace ------------------------------------------------------

@dataclasses.dataclass
class Run:
    report: dict
    timed_out: bool
    driver_status: int  # the driver's wait status as subprocess gives it
    strace_errors: str
    stderr: str


class Runner:
    def __init__(self, build):
        self.driver = os.path.join(build, "tests/faultinject/ifxtest_fault_driver")
        self.helper = os.path.join(build, "tests/helpers/ifxtest_child_helper")
        for program in (self.driver, self.helper):
            if not os.access(program, os.X_OK):
                sys.exit(f"{program} is missing: build the default preset first")

    def environment(self, operation, work):
        env = dict(os.environ)
        env.update(JX_LOG_FILE=os.path.join(work, "log"),
                   JX_REGISTRY_DIR=os.path.join(work, "registry"), JX_DEBUG_LEVEL="0")
        env.pop("IFXLIB_LAUNCH", None)
        if operation.log == "stderr":
            del env["JX_LOG_FILE"]
        if operation.engine == "fork":
            env["IFXLIB_LAUNCH"] = "fork"
        return env

    def run(self, operation, work, strace_options, trace_file):
        """Starts the driver, attaches strace once it is ready, lets it go, and collects
        its report. strace follows threads and children (-f) and lets a child go when it
        executes its program (-b execve): the program's own calls are not the library's."""
        os.makedirs(work, exist_ok=True)
        deadline = time.monotonic() + ROW_TIME_BOUND
        with open(os.path.join(work, "stderr"), "w+") as stderr:
            driver = subprocess.Popen(
                [self.driver, operation.driver, work, self.helper],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr,
                env=self.environment(operation, work), start_new_session=True)
            tracer = None
            try:
                if driver.stdout.readline() != b"ready\n":
                    driver.wait(ROW_TIME_BOUND)
                    return Run({}, False, driver.returncode, "driver did not start", "")
                tracer = subprocess.Popen(
                    ["strace", "-f", "-b", "execve", "-o", trace_file, *strace_options,
                     "-p", str(driver.pid)],
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.PIPE, text=True)
                attached = tracer.stderr.readline()
                if "attached" not in attached:
                    return Run({}, False, -1, "strace did not attach: " + attached, "")
                os.kill(driver.pid, signal.SIGUSR1)
                out, _ = driver.communicate(timeout=max(1, deadline - time.monotonic()))
                _, errors = tracer.communicate(timeout=max(1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                self.kill(driver, tracer)
                return Run({}, True, -1, "", "")
            finally:
                self.kill(driver, tracer, only_if_running=True)
            stderr.seek(0)
            return Run(parse_report(out.decode(errors="replace")), False, driver.returncode,
                       errors, stderr.read())

    @staticmethod
    def kill(driver, tracer, only_if_running=False):
        for process in (tracer, driver):
            if process is None or (only_if_running and process.poll() is not None):
                continue
            try:
                if process is driver:
                    os.killpg(driver.pid, signal.SIGKILL)  # the child program with it
                else:
                    process.kill()
            except ProcessLookupError:
                pass
            process.wait()


def parse_report(text):
    report = {}
    for line in text.splitlines():
        key, _, value = line.partition("=")
        report[key] = value
    return report


# --- Recording ----------------------------------------------------------------------------

@dataclasses.dataclass
class Call:
    role: str  # "main", "child" or "thread"
    syscall: str
    args: str
    index: int  # 1-based among this process's calls of syscall, as strace counts
    position: int  # order in the recording
    prelaunch: bool  # main only: before the launch's clone


LINE = re.compile(r"^(\d+)\s+(.*)$")
ENTRY = re.compile(r"^([a-z0-9_]+)\((.*)$")
RESUMED = re.compile(r"^<\.\.\. ([a-z0-9_]+) resumed>(.*)$")
RETURN = re.compile(r"\)\s+= (-?\d+|\?|0x[0-9a-f]+)")


def parse_recording(path, main_pid):
    """The calls of the operation: the main thread's between the two marker calls, every
    other traced process's (threads and the child up to its exec) whole."""
    calls = []
    inside = {main_pid: False}
    counts = collections.defaultdict(collections.Counter)
    roles = {main_pid: "main"}
    pending = {}  # pid -> (syscall, args) of an unfinished clone
    unfinished = {}  # pid -> its call whose end comes on a later line
    launched = False
    with open(path, errors="replace") as trace:
        for number, raw in enumerate(trace):
            match = LINE.match(raw.rstrip("\n"))
            if not match:
                continue
            pid, rest = int(match.group(1)), match.group(2)
            resumed = RESUMED.match(rest)
            if resumed:
                name, tail = resumed.groups()
                if pid in unfinished:
                    # What a blocking call returned (a read's data) shows only here.
                    unfinished.pop(pid).args += tail
                if pid in pending:
                    flags = pending.pop(pid)
                    ret = RETURN.search(tail)
                    if ret and ret.group(1).isdigit():
                        roles[int(ret.group(1))] = "thread" if "CLONE_THREAD" in flags else "child"
                continue
            entry = ENTRY.match(rest)
            if not entry:
                continue
            name, args = entry.groups()
            if pid == main_pid and name == "access" and "/ifx-faultinject/" in args:
                inside[main_pid] = "/begin" in args
                continue
            role = roles.get(pid)
            if role is None:
                # A process whose creating call has not returned yet in the recording.
                role = "child" if any("CLONE_THREAD" not in f for f in pending.values()) \
                    else "thread"
                roles[pid] = role
            if role == "main" and not inside[main_pid]:
                continue
            counts[pid][name] += 1
            calls.append(Call(role, name, args, counts[pid][name], number,
                              role == "main" and not launched))
            if "<unfinished" in args:
                unfinished[pid] = calls[-1]
            if name in ("clone", "clone3") and role == "main":
                if "CLONE_THREAD" not in args:
                    launched = True
                if "<unfinished" in args:
                    pending[pid] = args
                else:
                    ret = RETURN.search(args)
                    if ret and ret.group(1).isdigit():
                        roles[int(ret.group(1))] = \
                            "thread" if "CLONE_THREAD" in args else "child"
    return calls


def record(runner, operation, directory):
    work = os.path.join(directory, "record-" + operation.name)
    shutil.rmtree(work, ignore_errors=True)
    trace = os.path.join(work, "trace")
    os.makedirs(work)
    run = runner.run(operation, work, ["-y", "-s", "96"], trace)
    if run.timed_out or run.report.get("end") is None:
        sys.exit(f"recording {operation.name} failed: {run}")
    with open(trace) as f:
        first = f.readline()
    main_pid = int(first.split()[0])
    return parse_recording(trace, main_pid), run.report


# --- What each call is, what it can fail with, and what a caller then sees -----------------
#
# A site names one call on the library's path by process, system call and arguments (as
# the recording shows them), lists the errors that call can return with the library's
# arguments, and says what its failure does. Errors that need invalid arguments (EFAULT,
# EINVAL for a bad flag) are left out, and so are calls that cannot fail with valid
# arguments (rt_sigprocmask restoring a mask, rt_sigaction of a valid signal, getuid,
# gettid, munmap of a whole mapping) and the C library's own thread calls (futex, rseq,
# set_robust_list, madvise).

E = errno


@dataclasses.dataclass(frozen=True)
class Effect:
    """What a failing call changes in the report: kind and its argument."""
    kind: str  # see Expectation.apply
    text: str = ""  # a log line (with %d for the error), or an exit code


def silent():
    return Effect("silent")


def launch_fails(line):
    return Effect("launch_fails", line)


def child_exits(code, line):
    return Effect("child_exits", f"{code}|{line}")


@dataclasses.dataclass(frozen=True)
class Site:
    name: str
    roles: str  # roles it occurs in: "main", "child", "thread", joined by "|"
    syscall: str
    pattern: str  # regular expression over the recorded arguments
    errors: tuple
    effect: object  # Effect, or a function (operation, errno) -> Effect
    phase: str = ""  # main only: "pre" (before the launch's start), "post", or either
    only: str = ""  # a regular expression over the driver's operations it belongs to
    occurrence: int = 0  # only this occurrence of the call in its process (0: any)

    def errors_for(self, call):
        if self.syscall != "newfstatat" or self.errors:
            return self.errors
        # stat of a path, or of a descriptor (AT_EMPTY_PATH)
        return (E.EBADF, E.ENOMEM) if "AT_EMPTY_PATH" in call.args else (E.ENOMEM, E.EACCES)

    def effect_of(self, operation, error):
        return self.effect(operation, error) if callable(self.effect) else self.effect


LOG = r'/log"|/log>'
PIPE = r"^\d+<pipe:"
DESCRIPTOR_ERRORS = (E.EMFILE, E.ENFILE, E.ENOMEM, E.EACCES)


def file_reading(name, pattern, effect, roles="main"):
    """open, fstat and read of one file, and its close, which changes nothing."""
    return [
        Site(name + " open", roles, "openat", pattern, DESCRIPTOR_ERRORS, effect),
        Site(name + " status", roles, "newfstatat", pattern, (), effect),
        Site(name + " read", roles, "read", pattern, (E.EIO, E.EBADF), effect),
        Site(name + " close", roles, "close", pattern, (E.EINTR, E.EIO), silent()),
    ]


def unless_interrupted(effect):
    """A call the library repeats after EINTR."""
    return lambda operation, error: silent() if error == E.EINTR else effect


def redirect(operation, error):
    blanks = "  " if operation.driver.startswith("InitializeLinux") else " "
    return Effect("redirect_fails", f"Failed to redirect{blanks}to /dev/null: errno=%d")


def shared_start(operation, error):
    # A platform without the shared-memory start (ENOSYS), a policy that refuses it while it
    # allows fork (EPERM, EACCES), or no room for the child's stack (ENOMEM): the launch
    # forks instead. EAGAIN would fail a fork the same way.
    if error in (E.ENOSYS, E.EPERM, E.EACCES, E.ENOMEM):
        return Effect("logged", "cannot start the child sharing memory: errno=%d; forking")
    return launch_fails("fork failed: errno=%d")


def driver_groups_within_users():
    """Whether the driver's supplementary groups (root's, when it runs as root) are all
    among the launched user's ("nobody")."""
    if os.getuid() != 0:
        return True
    import pwd
    return set(os.getgrouplist("root", 0)) <= \
        set(os.getgrouplist("nobody", pwd.getpwnam("nobody").pw_gid))


def supplementary_groups(operation, error):
    # The service launch goes on without setting the groups only where keeping the agent's
    # gives the program no group its user lacks.
    if operation.driver.startswith("InitializeLinux") and error == E.EPERM and \
            driver_groups_within_users():
        return Effect("logged", "ignoring EPERM error from initgroups")
    return child_exits(81, "initgroups() failed, errno=%d")


PARENT_PID = "GET_PARENTPID"
SHIM_FAILS = Effect("shim_fails")

SITES = [
    # GET_PARENTPID runs "/bin/ps" through the process service: posix_spawn of /bin/sh with
    # its output on a pipe. Any failure is -1.
    Site("command output pipe", "main", "pipe2", r"", (E.EMFILE, E.ENFILE, E.ENOMEM), SHIM_FAILS,
         only=PARENT_PID),
    Site("shell start stack", "main", "mmap", r"MAP_STACK", (E.ENOMEM, E.EAGAIN), SHIM_FAILS,
         only=PARENT_PID),
    # ENOSYS: glibc starts the shell with clone instead.
    Site("shell start", "main", "clone3", r"CLONE_VFORK", (E.EAGAIN, E.ENOMEM, E.EPERM, E.ENOSYS),
         lambda operation, error: silent() if error == E.ENOSYS else SHIM_FAILS, only=PARENT_PID),
    Site("shell output", "child", "dup2", r"", (E.EBADF, E.EBUSY, E.EINTR), SHIM_FAILS,
         only=PARENT_PID),
    Site("shell exec", "child", "execve", r"",
         (E.EACCES, E.ENOENT, E.ENOMEM, E.EIO, E.EAGAIN, E.ETXTBSY), SHIM_FAILS, only=PARENT_PID),
    Site("command output", "main", "read", PIPE, (E.EIO, E.EBADF, E.EINTR),
         unless_interrupted(SHIM_FAILS), only=PARENT_PID),
    # The write end, which the parent closes before it reads to the end: an injected close
    # is skipped, so the end would never come, which Linux never does (it releases the
    # descriptor whatever close reports). Left out.
    Site("command output write end close", "main", "close", PIPE, (), silent(), only=PARENT_PID,
         occurrence=1),
    Site("command output close", "main", "close", PIPE, (E.EINTR, E.EIO), silent(),
         only=PARENT_PID),
    # The logger: a line that cannot be written is lost, nothing else.
    Site("log open", "main|child|thread", "openat", LOG, DESCRIPTOR_ERRORS, silent()),
    # EBADF would mean that somebody closed the logger's descriptor behind its back.
    Site("log check", "main|child|thread", "newfstatat", r"^\d+<[^>]*/log>", (E.ENOMEM,), silent()),
    Site("log write to standard error", "main|child|thread", "write", r"^\d+<[^>]*/stderr>",
         (E.ENOSPC, E.EIO, E.EBADF), silent()),
    Site("log write", "main|child|thread", "write", r"^\d+<[^>]*/log>", (E.ENOSPC, E.EIO, E.EBADF),
         silent()),
    # The logger keeps its file above descriptor 2; without the move it writes each line
    # through a descriptor of its own for that line.
    Site("log moved above 2", "main|child|thread", "fcntl", r"^\d+<[^>]*/log>, F_DUPFD_CLOEXEC, 3",
         (E.EMFILE, E.EBADF), silent()),
    Site("log close", "main", "close", r"^\d+<[^>]*/log>", (E.EINTR, E.EIO), silent()),
    # Descriptors 0 to 2 made sure of.
    Site("/dev/null open", "main", "openat", r'"/dev/null"', DESCRIPTOR_ERRORS, redirect),
    Site("standard descriptor copy", "main", "fcntl", r"^[01]<.*F_DUPFD_CLOEXEC", (E.EMFILE, E.EBADF),
         redirect),
    Site("standard descriptor kept across exec", "main", "fcntl", r"^[012]<.*F_SETFD", (E.EBADF,),
         redirect),
    Site("placeholder close", "main", "close", r"^\d+<(/dev/null|pipe:)", (E.EINTR, E.EIO), silent(),
         "pre"),
    # The pipes.
    Site("pipe m_phpipecw", "main", "pipe2", r"", (E.EMFILE, E.ENFILE, E.ENOMEM),
         launch_fails("pipe call failed when creating m_phpipecw : errno=%d")),
    Site("pipe m_phpipepw", "main", "pipe2", r"", (E.EMFILE, E.ENFILE, E.ENOMEM),
         launch_fails("pipe call failed when creating m_phpipepw : errno=%d")),
    Site("non-blocking read end", "main", "fcntl", r"F_SETFL", (E.EBADF,),
         launch_fails("fcntl failed for m_phpipecw: errno=%d")),
    # The launch-error report: without it the launch goes on, and only LaunchError says why.
    Site("launch error report pipe", "main", "pipe2", r"O_NONBLOCK",
         (E.EMFILE, E.ENFILE, E.ENOMEM), silent()),
    # The user, looked up before the start: a failure ends the child with 81, or the
    # lookup still succeeds from what the name service has.
    *file_reading("user database", r"/etc/(passwd|nsswitch\.conf)",
                  Effect("user_lookup", "Child getpwnam failed, errno %d")),
    # The user's groups: glibc then lists the groups it could read (the user's own group).
    *file_reading("group database", r"/etc/group", silent()),
    # The sleep marker: a marker that cannot be looked at does not hold the child.
    Site("sleep marker", "main|child", "newfstatat", r"clifxagentchild\.sleep", (), silent()),
    # The start of the child.
    Site("shared start stack", "main", "mmap", r"266240, PROT_NONE", (E.ENOMEM, E.EAGAIN),
         shared_start),
    Site("shared start stack access", "main", "mprotect", r"262144,", (E.ENOMEM, E.EACCES),
         shared_start),
    Site("shared start", "main", "clone", r"CLONE_VM\|CLONE_VFORK",
         (E.EAGAIN, E.ENOMEM, E.EPERM, E.ENOSYS), shared_start),
    Site("fork", "main", "clone", r"child_stack=NULL", (E.EAGAIN, E.ENOMEM),
         launch_fails("fork failed: errno=%d")),
    # The child, up to exec.
    Site("parent ends close", "child", "close", PIPE, (E.EINTR, E.EIO), silent()),
    Site("supplementary groups", "child", "setgroups", r"", (E.EPERM, E.ENOMEM), supplementary_groups),
    Site("group id", "child", "setgid", r"", (E.EPERM,), child_exits(81, "Child setgid failed, errno %d")),
    Site("user id", "child", "setuid", r"", (E.EPERM, E.EAGAIN),
         child_exits(81, "Child setuid failed, errno %d")),
    Site("standard error copy for the log", "child", "fcntl", r"^2<.*F_DUPFD_CLOEXEC",
         (E.EMFILE, E.EBADF), silent()),
    Site("standard input", "child", "dup2", r", 0<", (E.EBADF, E.EBUSY, E.EINTR),
         unless_interrupted(child_exits(77, "Child dup2-STDIN failed"))),
    Site("standard output", "child", "dup2", r", 1<", (E.EBADF, E.EBUSY, E.EINTR),
         unless_interrupted(child_exits(77, "Child dup2-STDOUT failed"))),
    Site("standard error", "child", "dup2", r", 2<", (E.EBADF, E.EBUSY, E.EINTR),
         unless_interrupted(child_exits(77, "Child dup2-STDERR failed"))),
    # Without close_range (kernels before 5.11, or 5.9/5.10 without its flag) the child
    # marks the descriptors one by one.
    Site("descriptors marked close-on-exec", "child", "close_range", r"", (E.ENOSYS, E.EINVAL),
         silent()),
    Site("exec", "child", "execve", r"", (E.EACCES, E.ENOENT, E.ENOMEM, E.EIO, E.EAGAIN, E.ETXTBSY),
         child_exits(79, "Child exec failed, errno %d")),
    # The parent after the start.
    Site("child ends close", "main", "close", PIPE, (E.EINTR, E.EIO), silent(), "post"),
    # The conversation: "ids" and "fds", each answered with one line, then "exit 0".
    *[Site(f"WriteBuf {step}", "main", "write", PIPE + rf'.*"{command}\\0', (E.EINTR, E.EIO, E.EBADF),
           Effect("write_fails", step)) for step, command in (("ids", "ids"), ("fds", "fds"),
                                                              ("exit", "exit 0"))],
    *[Site(f"ReadBuf {step}", "main", "read", PIPE + rf'.*"{answer}',
           (E.EINTR, E.EIO, E.EBADF, E.EAGAIN), Effect("read_fails", step))
      for step, answer in (("ids", "uid="), ("fds", "fds="))],
    Site("wait thread stack", "main", "mmap", r"PROT_NONE, MAP_PRIVATE\|MAP_ANONYMOUS\|MAP_STACK",
         (E.ENOMEM, E.EAGAIN), Effect("thread_fails")),
    Site("wait thread stack access", "main", "mprotect", r"", (E.ENOMEM, E.EACCES),
         Effect("thread_fails")),
    # ENOSYS: glibc starts the thread with clone instead.
    Site("wait thread", "main", "clone3", r"CLONE_THREAD", (E.EAGAIN, E.ENOMEM, E.EPERM, E.ENOSYS),
         lambda operation, error: silent() if error == E.ENOSYS else Effect("thread_fails")),
    Site("wait", "main|thread", "wait4", r"", (E.EINTR,), silent()),
    # The child's process descriptor: without it Wait and the wait thread block in waitpid
    # as they always did, and only the new calls fail (ENOSYS or the error).
    Site("process descriptor", "main", "pidfd_open", r"", (E.EMFILE, E.ENFILE, E.ENOMEM, E.ENOSYS),
         silent()),
    # Waiting for the end on it: EINTR is resumed, any other error falls back to waitpid.
    Site("end of the child watched", "main|thread", "poll", r"pidfd", (E.EINTR, E.ENOMEM), silent()),
    # ReadFromOnconfig and the registry read their file whole.
    *file_reading("ONCONFIG file", r"/onconfig", Effect("read_file_fails", "Could not open the file")),
    *file_reading("registry section", r"/registry/", Effect("read_file_fails")),
    # jxrename: the new link first, then the atomic replacement, then the source's name.
    Site("new link", "main", "link", r"", (E.EXDEV, E.EPERM, E.EACCES, E.ENOSPC, E.EIO, E.EMLINK, E.EEXIST),
         lambda operation, error: silent() if error == E.EEXIST else Effect("rename_fails", "kept")),
    Site("replacement", "main", "rename", r"", (E.EXDEV, E.EBUSY, E.EACCES, E.EPERM, E.ENOSPC, E.EIO),
         Effect("rename_fails", "kept")),
    Site("temporary name removal", "main", "unlink", r"\.jxrename-", (E.EBUSY, E.EACCES, E.EPERM, E.EIO),
         silent()),
    Site("source removal", "main", "unlink", r"/from\"", (E.EBUSY, E.EACCES, E.EPERM, E.EIO),
         Effect("rename_fails", "both")),
]


def site_of(call, operation):
    """The site a recorded call belongs to, or None for a call the table leaves out."""
    phase = "" if call.role != "main" else "pre" if call.prelaunch else "post"
    candidates = [s for s in SITES if call.role in s.roles.split("|")
                  and call.syscall in s.syscall.split("|") and re.search(s.pattern, call.args)
                  and s.phase in ("", phase) and re.search(s.only, operation.driver)
                  and s.occurrence in (0, call.index)]
    if call.syscall == "pipe2" and candidates:
        # The launch's two pipes are told apart by their order, every other pipe by its site.
        pipes = [s for s in candidates if s.name.startswith("pipe m_")]
        others = [s for s in candidates if s not in pipes]
        if others:
            return others[0]
        return pipes[0] if call.index == 1 else pipes[1]
    return candidates[0] if candidates else None


# --- Rows ---------------------------------------------------------------------------------

@dataclasses.dataclass
class Hit:
    call: Call
    site: object  # Site, or None for a call the table leaves out

    def order(self):
        phase = {"main": 0 if self.call.prelaunch else 2, "child": 1, "thread": 3}[self.call.role]
        return (phase, self.call.position)

    def describe(self):
        name = self.site.name if self.site else "unlisted"
        return f"{self.call.role}:{self.call.syscall}#{self.call.index}({name})"


@dataclasses.dataclass
class Row:
    operation: Operation
    syscall: str
    occurrence: int
    error: int
    hits: list  # every recorded call the injection hits, in causal order
    retried: list = dataclasses.field(default_factory=list)  # a first run's problems

    @property
    def name(self):
        return f"{self.operation.name} {self.syscall}#{self.occurrence} {errno.errorcode[self.error]}"

    @property
    def strace_options(self):
        return ["-e", f"trace={self.syscall}",
                "-e", f"inject={self.syscall}:error={errno.errorcode[self.error]}:when={self.occurrence}"]


def derive_rows(operation, calls):
    """One row per system call, occurrence and error of the first call the injection hits;
    also the calls the table leaves out, counted per system call."""
    rows, left_out = [], collections.Counter()
    by_syscall = collections.defaultdict(list)
    for call in calls:
        by_syscall[call.syscall].append(Hit(call, site_of(call, operation)))
    for syscall, hits in sorted(by_syscall.items()):
        for occurrence in range(1, max(h.call.index for h in hits) + 1):
            hit = sorted((h for h in hits if h.call.index == occurrence), key=Hit.order)
            listed = [h for h in hit if h.site is not None]
            if not listed:
                left_out[syscall] += 1
                continue
            errors = listed[0].site.errors_for(listed[0].call)
            if not errors:
                left_out[syscall] += 1
            for error in errors:
                rows.append(Row(operation, syscall, occurrence, error, hit))
    return rows, left_out


# --- What a row must show -------------------------------------------------------------------

STEPS = ("ids", "fds", "exit")  # the driver's conversation with the child, in order
CONVERSATION = ("ids.write", "ids.read", "ids", "fds.write", "fds.read", "fds", "exit")
CHECKED = ("result", "lasterror", *CONVERSATION, "status", "wait", "beginwait",
           "waitdone", "waitfailed", "value", "errno", "target", "source", "exception", "stdio")
ANY_FAILURE = re.compile(r"^-1/-?[1-9]\d*$")


class Expectation:
    """The report a row must produce: the fault-free report, changed by each call the
    injection reaches in the order the calls happen."""

    def __init__(self, baseline):
        self.fields = {key: {baseline[key]} for key in CHECKED if key in baseline}
        self.lines = []  # (condition key, condition value or None, log line)
        self.launch_failed = False
        self.child_ended = False
        self.outcome = "no change"

    def set(self, key, *values):
        if key in self.fields or key == "status":
            self.fields[key] = set(values)

    def allow(self, key, *values):
        if key in self.fields:
            self.fields[key] |= set(values)

    def conversation_ends(self, step, result, transfer):
        """The step's transfer returned result; the step's answer and later steps are gone."""
        later = STEPS[STEPS.index(step) + 1:]
        self.set("exit" if step == "exit" else f"{step}.{transfer}", result)
        if step != "exit":
            self.set(step, "")
        for key in CONVERSATION:
            if key.split(".")[0] in later:
                self.set(key, "")

    def apply(self, row, hit):
        if self.launch_failed or (hit.call.role == "child" and self.child_ended):
            return  # not reached
        if hit.site is None:
            return
        effect = hit.site.effect_of(row.operation, row.error)
        error = row.error
        if effect.kind == "silent":
            return
        if effect.kind == "logged":
            self.outcome = "no change, logged"
            self.lines.append((None, None, effect.text % error if "%d" in effect.text
                               else effect.text))
            return
        if effect.kind == "redirect_fails":
            # Which standard numbers got "/dev/null" depends on the step that failed.
            self.fields.pop("stdio", None)
            effect = launch_fails(effect.text)
        if effect.kind == "launch_fails":
            self.launch_failed = True
            self.outcome = "launch returns -1"
            self.fields["result"] = {"-1"}
            self.fields["lasterror"] = {str(error)}
            self.fields["status"] = {"none"}
            for key in (*CONVERSATION, "wait", "beginwait", "waitdone", "waitfailed"):
                self.fields.pop(key, None)
            self.lines.append((None, None, effect.text % error))
        elif effect.kind in ("child_exits", "user_lookup"):
            code, line = effect.text.split("|") if effect.kind == "child_exits" \
                else ("81", effect.text)
            line = line % error if "%d" in line else line
            # The first command may still reach the pipe; its answer never comes.
            ended = {"status": {code}, "wait": {code}, "waitdone": {"0"}, "waitfailed": {"1"},
                     "ids.write": {"0/0", "-1/32"}, "ids.read": {"-1/32", "-1/11", "-1/9", ""},
                     **{key: {""} for key in CONVERSATION[2:]}}
            if effect.kind == "child_exits":
                self.child_ended = True
                self.outcome = f"child exits {code}"
                for key, values in ended.items():
                    self.set(key, *values)
                self.lines.append((None, None, line))
            else:
                # The name service may still answer from what it read before.
                self.outcome = "child exits 81 or no change"
                for key, values in ended.items():
                    self.allow(key, *values)
                self.lines.append(("status", "81", line.split("%")[0]))
        elif effect.kind == "write_fails":
            # A failed write finalizes the object: the child sees the end of its input and
            # ends with 0; nothing more is asked.
            self.outcome = "WriteBuf returns -1"
            self.conversation_ends(effect.text, f"-1/{error}", "write")
            if effect.text != "exit":
                self.set(effect.text + ".read", "-1/9")
            self.lines.append((None, None, f"write failed: errno={error}"))
        elif effect.kind == "read_fails":
            # The child may answer after the caller has closed its end, and end with SIGPIPE.
            self.outcome = "ReadBuf returns -1"
            self.conversation_ends(effect.text, f"-1/{error}", "read")
            self.allow("status", "141")
            self.allow("wait", "141")
            self.allow("waitdone", "0")
            self.allow("waitfailed", "1")
        elif effect.kind == "thread_fails":
            self.outcome = "BeginWait returns -1"
            self.fields["beginwait"] = {ANY_FAILURE}
            self.fields.pop("waitdone", None)
            self.fields.pop("waitfailed", None)
            self.fields["wait"] = set(self.fields["status"])
            self.lines.append((None, None, "CreateThread failed"))
        elif effect.kind == "shim_fails":
            self.outcome = "returns -1"
            self.fields["result"] = {"-1"}
        elif effect.kind == "read_file_fails":
            self.outcome = "returns -1"
            self.fields["result"] = {"-1"}
            self.fields["value"] = {""}
            if effect.text:
                self.lines.append((None, None, effect.text))
        elif effect.kind == "rename_fails":
            self.outcome = "returns -1, target kept" if effect.text == "kept" \
                else "returns -1, both names kept"
            self.fields["result"] = {"-1"}
            self.fields["errno"] = {str(error)}
            self.fields["target"] = {"old" if effect.text == "kept" else "new"}
            self.fields["source"] = {"new"}
        else:
            raise ValueError(effect.kind)


def expectation_for(row, baseline):
    expected = Expectation(baseline)
    if "stdio" in expected.fields and row.syscall == "close":
        # A skipped close leaves the number taken, which Linux never does.
        del expected.fields["stdio"]
    elif "stdio" in expected.fields:
        # A closed standard number is filled with "/dev/null" and stays so.
        expected.fields["stdio"] = {"/dev/null,/dev/null,/dev/null"}
    for hit in row.hits:
        expected.apply(row, hit)
    return expected


def check(row, run, expected, work):
    """The reasons a row failed; empty when it passed."""
    if run.timed_out:
        return [f"hang: no report within {ROW_TIME_BOUND} s"]
    problems = []
    if run.driver_status != 0:
        problems.append(f"driver ended with {run.driver_status} (a crash is negative)")
    report = run.report
    if "end" not in report:
        return problems + ["no complete report: " + run.strace_errors.strip()[-300:]]
    for key, allowed in expected.fields.items():
        value = report.get(key, "none" if key == "status" else "")
        if not any(a.match(value) if isinstance(a, re.Pattern) else a == value for a in allowed):
            shown = sorted(a.pattern if isinstance(a, re.Pattern) else a for a in allowed)
            problems.append(f"{key}={value!r}, expected {' or '.join(map(repr, shown))}")
    after = report.get("fds_after", "")
    if row.operation.driver.endswith(".nostdio"):
        # The launch fills the free standard numbers for good.
        after = ",".join(fd for fd in after.split(",") if fd not in ("0", "1", "2"))
    if row.syscall != "close" and after != report.get("fds_before"):
        problems.append(f"descriptors {report.get('fds_before')} before, "
                        f"{report.get('fds_after')} after")
    if report.get("threads") != "1":
        problems.append(f"{report.get('threads')} threads left")
    if report.get("children"):
        problems.append(f"children left (pid:state): {report.get('children')}")
    try:
        with open(os.path.join(work, row.operation.log), errors="replace") as f:
            log = f.read()
    except FileNotFoundError:
        log = ""
    for key, value, line in expected.lines:
        if key is not None and report.get(key) != value:
            continue
        if line not in log:
            problems.append(f"log line {line!r} missing")
    litter = [n for n in os.listdir(work) if n.startswith(".jxrename-")]
    if litter:
        problems.append(f"left behind: {litter}")
    return problems


# --- The whole run --------------------------------------------------------------------------

def run_row(runner, row, baseline, directory):
    work = os.path.join(directory, "rows", re.sub(r"[^A-Za-z0-9.#@_-]+", "_", row.name))
    shutil.rmtree(work, ignore_errors=True)
    expected = expectation_for(row, baseline)
    started = time.monotonic()
    retried = []
    for attempt in range(2):
        run = runner.run(row.operation, work, row.strace_options, os.path.join(work, "trace"))
        problems = check(row, run, expected, work)
        if not problems:
            shutil.rmtree(work, ignore_errors=True)
            break
        if attempt == 0:
            # Once more, keeping what the first run left: the counting depends on each
            # process making its calls in the recorded order.
            retried = problems
            shutil.rmtree(work + ".first", ignore_errors=True)
            os.rename(work, work + ".first")
    row.retried = retried if not problems else []
    return row, expected, problems, time.monotonic() - started


def summarize(results, left_out, elapsed, jobs):
    rows = len(results)
    failed = [(r, p) for r, _, p, _ in results if p]
    per_syscall = collections.Counter(r.syscall for r, _, _, _ in results)
    per_outcome = collections.Counter(e.outcome for _, e, _, _ in results)
    per_error = collections.Counter(errno.errorcode[r.error] for r, _, _, _ in results)
    per_operation = collections.Counter(r.operation.name for r, _, _, _ in results)
    retried = [r for r, _, p, _ in results if not p and r.retried]
    lines = [f"FAULTINJECT rows={rows} passed={rows - len(failed)} failed={len(failed)} "
             f"(passed on a second run: {len(retried)}) elapsed={elapsed:.0f}s jobs={jobs}"]
    for row in retried:
        lines.append(f"FAULTINJECT passed on a second run: {row.name}: {'; '.join(row.retried)}")
    for title, counter in (("per operation", per_operation), ("per system call", per_syscall),
                           ("per outcome", per_outcome), ("per error", per_error)):
        lines.append(f"FAULTINJECT {title}: " +
                     ", ".join(f"{k} {v}" for k, v in sorted(counter.items(), key=lambda kv: (-kv[1], kv[0]))))
    if left_out:
        lines.append("FAULTINJECT calls left out (cannot fail with valid arguments, or the C "
                     "library's own): " + ", ".join(f"{k} {v}" for k, v in sorted(left_out.items())))
    return lines, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="build directory of the default preset")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", default="", help="run the rows whose name matches this")
    parser.add_argument("--list", action="store_true", help="list the rows and stop")
    arguments = parser.parse_args()
    if shutil.which("strace") is None:
        sys.exit("strace is missing: bash scripts/setup.sh installs it")
    directory = os.path.join(os.path.abspath(arguments.build), "faultinject")
    os.makedirs(directory, exist_ok=True)
    runner = Runner(os.path.abspath(arguments.build))
    started = time.monotonic()

    rows, baselines, left_out = [], {}, collections.Counter()
    for operation in OPERATIONS:
        calls, baselines[operation] = record(runner, operation, directory)
        derived, skipped = derive_rows(operation, calls)
        rows += derived
        left_out += skipped
    rows = [r for r in rows if re.search(arguments.only, r.name)]
    if arguments.list:
        for row in rows:
            print(row.name, " ".join(h.describe() for h in row.hits))
        print(f"{len(rows)} rows")
        return 0

    results = []
    with concurrent.futures.ThreadPoolExecutor(arguments.jobs) as pool:
        futures = [pool.submit(run_row, runner, row, baselines[row.operation], directory)
                   for row in rows]
        for future in concurrent.futures.as_completed(futures):
            results.append(future.result())
            row, expected, problems, seconds = results[-1]
            if problems:
                print(f"FAIL {row.name} [{', '.join(h.describe() for h in row.hits)}]: "
                      + "; ".join(problems), flush=True)
    elapsed = time.monotonic() - started
    lines, failed = summarize(results, left_out, elapsed, arguments.jobs)
    print("\n".join(lines))
    with open(os.path.join(directory, "summary.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
        for row, problems in failed:
            f.write(f"FAIL {row.name}: {'; '.join(problems)}\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
