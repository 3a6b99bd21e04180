#include <IfxLib/IfxLib.h>

#include <cerrno>

#include <IfxLib/platform/HostServices.h>

#include "ChildLifetime.h"

IfxChildProcess::IfxChildProcess()
    : m_pprocess(nullptr),
      m_lasterror(0),
      m_childpid(0),
      m_phpipepw{0, 0},
      m_phpipecw{0, 0},
      m_pevent(nullptr),
      m_boption1(false),
      m_bwaitstarted(false),
      m_bwaitdone(false),
      m_bwaitfailed(false),
      m_pthread(nullptr),
      m_bnonblocking(false),
      m_beof(false),
      m_boption3(false),
      m_exitcode(0),
      m_bownpipepw{false, false},
      m_bownpipecw{false, false},
      m_plifetime(new ifxlib::ChildLifetime),
      m_blaunched(false) {}

IfxChildProcess::~IfxChildProcess() {
    if (m_pevent != nullptr) {
        EvDebug::Debug(m_pevent, "IfxChildProcess::~IfxChildProcess", "enter");
    }
    // Without a Finalize the child may be waiting for the end of its input, and the wait
    // thread for the child: the ends still held are closed before the thread is joined.
    CloseIfOwned(m_phpipepw[1], m_bownpipepw[1]);
    CloseIfOwned(m_phpipecw[0], m_bownpipecw[0]);
    CloseChildEnds();
    if (m_pthread != nullptr) {
        // The wait thread works on this object up to its last log line.
        m_pthread->join();
        delete m_pthread;
        m_pthread = nullptr;
    }
    delete m_pprocess;
    m_pprocess = nullptr;
    // Last: the wait thread watched the child's process descriptor, which goes with it.
    delete m_plifetime;
    m_plifetime = nullptr;
}

int IfxChildProcess::Finalize() {
    m_lasterror = 0;
    EvDebug::Debug(m_pevent, "IfxChildProcess::Finalize", "start");
    CloseIfOwned(m_phpipepw[1], m_bownpipepw[1]);
    CloseIfOwned(m_phpipecw[0], m_bownpipecw[0]);
    // Ends that a failed launch left behind were never handed to a child.
    CloseChildEnds();
    return 0;
}

int IfxChildProcess::RefuseSecondLaunch(const char* tag) {
    if (!m_blaunched) {
        return 0;
    }
    // Nothing of the first launch is touched: its child, pipes, process object and event
    // stay as they are, and a wait thread may be reading them.
    m_lasterror = EBUSY;
    EvDebug::Debug(m_pevent, tag, "launch refused, the object has launched before: errno=%d",
                   EBUSY);
    return -1;
}
