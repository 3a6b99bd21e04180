#include "ChildWatcher.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>

namespace ifxlib {

struct ChildWatcher::Shared {
    ~Shared() {
        if (eventFd >= 0) {
            ::close(eventFd);
        }
    }
    pid_t child = 0;
    std::mutex mutex;
    std::condition_variable doneChanged;
    // Both under mutex: the thread writes the eventfd only while the object still owns it.
    int eventFd = -1;
    bool done = false;
};

namespace {

// Enough for waitid and a write; the default would reserve megabytes per child.
constexpr size_t kWatcherStack = size_t{256} * 1024;

void MarkEnded(ChildWatcher::Shared& shared) {
    const std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.eventFd >= 0) {
        const uint64_t one = 1;
        // The counter stays non-zero: nobody reads it, so it stays readable.
        [[maybe_unused]] const ssize_t written = ::write(shared.eventFd, &one, sizeof one);
    }
    shared.done = true;
    shared.doneChanged.notify_all();
}

void* Watch(void* argument) {
    const std::unique_ptr<std::shared_ptr<ChildWatcher::Shared>> owned(
        static_cast<std::shared_ptr<ChildWatcher::Shared>*>(argument));
    ChildWatcher::Shared& shared = **owned;
    siginfo_t info{};
    // Returns once the child is a zombie (still unreaped: WNOWAIT), or with ECHILD once
    // it is not ours to wait for.
    while (::waitid(P_PID, static_cast<id_t>(shared.child), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    MarkEnded(shared);
    return nullptr;
}

// The agent's signal handlers must never run on a thread of ours: it starts with every
// signal blocked, and keeps them so.
int StartThreadWithSignalsBlocked(pthread_t* thread, void* argument) {
    pthread_attr_t attributes;
    int error = ::pthread_attr_init(&attributes);
    if (error != 0) {
        return error;
    }
    ::pthread_attr_setstacksize(&attributes, kWatcherStack);
    sigset_t all;
    sigset_t saved;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &saved);
    error = ::pthread_create(thread, &attributes, Watch, argument);
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    ::pthread_attr_destroy(&attributes);
    return error;
}

}  // namespace

ChildWatcher::~ChildWatcher() {
    if (m_shared == nullptr) {
        return;
    }
    bool done;
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        done = m_shared->done;
        // The caller's copy of the number goes with the object; a thread still watching
        // must not write into whatever file takes that number next.
        if (m_shared->eventFd >= 0) {
            ::close(m_shared->eventFd);
            m_shared->eventFd = -1;
        }
    }
    if (!m_threadRunning) {
        return;
    }
    if (done) {
        ::pthread_join(m_thread, nullptr);
    } else {
        ::pthread_detach(m_thread);
    }
}

int ChildWatcher::Start(pid_t child, bool ended) {
    if (m_shared != nullptr) {
        return 0;
    }
    auto shared = std::make_shared<Shared>();
    shared->child = child;
    shared->eventFd = ::eventfd(0, EFD_CLOEXEC);
    if (shared->eventFd < 0) {
        return errno;
    }
    if (ended) {
        MarkEnded(*shared);
        m_shared = std::move(shared);
        return 0;
    }
    auto* argument = new (std::nothrow) std::shared_ptr<Shared>(shared);
    if (argument == nullptr) {
        return ENOMEM;
    }
    const int error = StartThreadWithSignalsBlocked(&m_thread, argument);
    if (error != 0) {
        delete argument;
        return error;
    }
    m_threadRunning = true;
    m_shared = std::move(shared);
    return 0;
}

int ChildWatcher::Descriptor() const {
    return m_shared != nullptr ? m_shared->eventFd : -1;
}

void ChildWatcher::WaitUntilDone() {
    if (m_shared == nullptr) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->doneChanged.wait(lock, [this] { return m_shared->done; });
}

}  // namespace ifxlib
