// Waiting for the child of InitializeLinux, in the caller's thread or on a wait thread.

#include <IfxLib/IfxLib.h>

#include <new>

#include <IfxLib/platform/HostServices.h>

namespace {

constexpr int kWaitErrorTextSize = 50;
constexpr int kNoTimeLimit = -1;

}  // namespace

int IfxChildProcess::BeginWait() {
    static const char kTag[] = "IfxChildProcess::BeginWait";
    m_lasterror = 0;
    m_exitcode = 0;
    // A second call finds the first thread object, which refuses a second thread (EBUSY),
    // rather than losing track of a running thread.
    if (m_pthread == nullptr) {
        m_pthread = new (std::nothrow) JxThread();
    }
    if (m_pthread == nullptr) {
        EvDebug::Debug(m_pevent, kTag, "new JxThread failed");
        return -1;
    }
    m_exitcode = m_pthread->createThread(WaitThreadFunction, this);
    if (m_exitcode != 0) {
        m_lasterror = static_cast<int32_t>(m_exitcode);
        EvDebug::Debug(m_pevent, kTag, "CreateThread failed");
        return -1;
    }
    return 0;
}

void* IfxChildProcess::WaitThreadFunction(void* object) {
    static_cast<IfxChildProcess*>(object)->WaitThread();
    return nullptr;
}

void IfxChildProcess::WaitThread() {
    static const char kTag[] = "IfxChildProcess::WaitThread";
    m_bwaitstarted = true;
    if (Wait(0) != 0) {
        // Readers that see the flag must also see the status behind it.
        m_lasterror = static_cast<int32_t>(m_exitcode);
        EvDebug::Debug(m_pevent, kTag, "Wait failed; LastErr=%d", static_cast<int>(m_lasterror));
        m_bwaitfailed = true;
        return;
    }
    m_bwaitdone = true;
    EvDebug::DebugLvl(m_pevent, kTag, 2, "WaitThread complete.");
}

int IfxChildProcess::Wait(unsigned long /*timeout*/) {
    static const char kTag[] = "IfxChildProcess::Wait";
    m_lasterror = 0;
    m_exitcode = 0;
    if (m_pprocess == nullptr) {
        EvDebug::Debug(m_pevent, kTag, "WaitForProcessToEnd - JX_IFX_ERROR");
        return -1;
    }
    EvDebug::DebugLvl(m_pevent, kTag, 2, "waiting for pid %d", m_pprocess->GetChildPid());
    int status = 0;
    char errorText[kWaitErrorTextSize] = {};
    if (!m_pprocess->WaitForProcessToEnd(status, errorText, kWaitErrorTextSize, kNoTimeLimit)) {
        EvDebug::Debug(m_pevent, kTag, "WaitForProcessToEnd - JX_IFX_ERROR");
        return -1;
    }
    EvDebug::Debug(m_pevent, kTag, "WaitForProcessToEnd - JX_IFX_OK; return Code [%d]", status);
    EvDebug::DebugLvl(m_pevent, kTag, 2, "Onbar Exit status 0x%X",
                      static_cast<unsigned int>(status));
    if (status != 0) {
        EvDebug::Debug(m_pevent, kTag, "Child exited with error %d", status);
        m_exitcode = status;
        return status;
    }
    return 0;
}
