#pragma once

// How a launch starts its child.
//
// SharedMemory: JxStartChildSharingMemory (clone with CLONE_VM | CLONE_VFORK, as
// posix_spawn does). No page table is copied, so a launch costs the same in a small and a
// large agent, and strict overcommit cannot refuse it. The launching thread waits until
// the child has executed the program or ended; the child runs in the agent's memory and
// must keep to the rules of ChildSteps.h.
//
// Fork: fork(2). The child works on a copy of the agent. Kept for diagnosis (a debugger
// can follow a forked child), for builds whose sanitizers intercept what the child calls
// and would run their own code in the agent's memory, for platforms the shared-memory
// start does not know and hosts that refuse it, and for a child the sleep marker holds, which would
// hold the launching thread with it on the other path.

namespace ifxlib {

enum class LaunchEngine { SharedMemory, Fork };

// The variable that forces the fork path when it is "fork".
constexpr char kLaunchEngineVariable[] = "IFXLIB_LAUNCH";

// The engine for one launch: Fork in sanitizer builds or when setting (the value of
// IFXLIB_LAUNCH, null when unset) is "fork", SharedMemory otherwise.
LaunchEngine ChooseLaunchEngine(const char* setting);

// Whether a launch whose shared-memory start failed with error forks instead: where the
// platform does not know that start (ENOSYS), where a policy refuses clone with CLONE_VM
// while it allows fork (EPERM or EACCES, from a seccomp filter or a security module), and
// where the child's stack finds no room (ENOMEM: RLIMIT_AS, or strict overcommit refusing
// its mprotect) while fork may still copy the agent. EAGAIN (RLIMIT_NPROC, no pid left)
// stays a failure: fork would fail the same way.
bool ForkAfterRefusedSharedStart(int error);

}  // namespace ifxlib
