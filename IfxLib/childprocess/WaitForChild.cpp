// Waiting for the child of InitializeLinux, in the caller's thread or on a wait thread.

#include <IfxLib/IfxLib.h>

#include <new>

#include <IfxLib/platform/HostServices.h>

#include "ChildLifetime.h"

int IfxChildProcess::BeginWait() {
    static const char kTag[] = "IfxChildProcess::BeginWait";
    // One wait thread per object: a second one would wait for a child already waited for,
    // and clearing the report here would erase what the first wait stored.
    if (m_pthread != nullptr && m_pthread->started()) {
        EvDebug::Debug(m_pevent, kTag, "wait thread already started");
        return -1;
    }
    m_lasterror = 0;
    m_exitcode = 0;
    // A thread object whose thread could not be started before is used again.
    if (m_pthread == nullptr) {
        m_pthread = new (std::nothrow) JxThread();
    }
    if (m_pthread == nullptr) {
        EvDebug::Debug(m_pevent, kTag, "new JxThread failed");
        return -1;
    }
    // The thread may already have stored the child's status by the time createThread
    // returns, so the result goes to the report only when there was no thread.
    const int created = m_pthread->createThread(WaitThreadFunction, this);
    if (created != 0) {
        m_exitcode = created;
        m_lasterror = created;
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
    // The caller's ReadBuf and WriteBuf report through m_lasterror meanwhile, so this
    // thread leaves it alone until it has a status to store there.
    if (WaitForEnd(false) != 0) {
        const auto status = static_cast<int32_t>(m_exitcode);
        // Readers that see the flag must also see the status behind it.
        m_lasterror = status;
        EvDebug::Debug(m_pevent, kTag, "Wait failed; LastErr=%d", static_cast<int>(status));
        m_bwaitfailed = true;
    } else {
        m_bwaitdone = true;
        EvDebug::DebugLvl(m_pevent, kTag, 2, "WaitThread complete.");
    }
    // WaitFor returns once the report above is complete.
    ifxlib::NoteWaitThreadEnded(*m_plifetime);
}

int IfxChildProcess::Wait(unsigned long /*timeout*/) {
    return WaitForEnd(true);
}

int IfxChildProcess::WaitForEnd(bool clearLastError) {
    static const char kTag[] = "IfxChildProcess::Wait";
    if (clearLastError) {
        m_lasterror = 0;
    }
    m_exitcode = 0;
    if (m_pprocess == nullptr) {
        EvDebug::Debug(m_pevent, kTag, "WaitForProcessToEnd - JX_IFX_ERROR");
        return -1;
    }
    EvDebug::DebugLvl(m_pevent, kTag, 2, "waiting for pid %d", m_pprocess->GetChildPid());
    int status = 0;
    // The same status as WaitFor or Stop got when one of them reaped the child first.
    if (!ifxlib::AwaitAndReap(*m_plifetime, m_pprocess, status)) {
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
