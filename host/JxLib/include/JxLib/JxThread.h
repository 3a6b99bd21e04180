#pragma once

#include <pthread.h>

#include <JxLib/JxExport.h>

// One POSIX thread, joinable by its owner.
class JXLIB_API JxThread {
  public:
    JxThread();
    // Joins the thread if nobody did: a thread must never outlive the data it was given.
    virtual ~JxThread();
    JxThread(const JxThread&) = delete;
    JxThread& operator=(const JxThread&) = delete;

    // Starts entry(argument). 0 when the thread runs, else an error number (EBUSY when
    // this object already started one).
    int createThread(void* (*entry)(void*), void* argument);

    // Waits for the thread to end. 0, or an error number (EINVAL when there is no
    // thread to join).
    int join();

    bool joinable() const { return m_joinable; }
    // True once createThread has started a thread, also after it was joined.
    bool started() const { return m_started; }

  private:
    pthread_t m_thread;
    bool m_started;
    bool m_joinable;
};
