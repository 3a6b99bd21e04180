#include <JxLib/JxThread.h>

#include <cerrno>

JxThread::JxThread() : m_thread(), m_started(false), m_joinable(false) {}

JxThread::~JxThread() {
    if (m_joinable) {
        ::pthread_join(m_thread, nullptr);
    }
}

int JxThread::createThread(void* (*entry)(void*), void* argument) {
    if (entry == nullptr) {
        return EINVAL;
    }
    if (m_started) {
        return EBUSY;
    }
    int result = ::pthread_create(&m_thread, nullptr, entry, argument);
    if (result == 0) {
        m_started = true;
        m_joinable = true;
    }
    return result;
}

int JxThread::join() {
    if (!m_joinable) {
        return EINVAL;
    }
    int result = ::pthread_join(m_thread, nullptr);
    if (result == 0) {
        m_joinable = false;
    }
    return result;
}
