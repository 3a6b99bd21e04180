#include "EnvironmentLock.h"

#include <pthread.h>

namespace ifxlib {

namespace {

// Never destroyed: a launch or a shim may still run on another thread while the process
// exits.
std::mutex& environmentMutex() {
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

// A process forked while another thread holds the lock would find it held for ever, and
// its first shim or launch would hang: the fork waits until the lock is free, and both
// sides of it release it. Only the unlock in the child, which may be a launched child of
// ours before its exec. Registered when the library is loaded, before any thread can hold
// the lock. Should registering fail (no memory at load), forks beside the shims are as
// unprotected as they would be without it.
void lockForFork() {
    environmentMutex().lock();
}

void unlockAfterFork() {
    environmentMutex().unlock();
}

[[maybe_unused]] const int g_forkHandlers =
    (environmentMutex(), ::pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork));

}  // namespace

std::unique_lock<std::mutex> LockEnvironment() {
    return std::unique_lock<std::mutex>(environmentMutex());
}

}  // namespace ifxlib
