// Bounding, stopping and signalling the child, and what became of its launch.

#include <IfxLib/IfxLib.h>

#include <IfxLib/platform/HostServices.h>

#include "ChildLifetime.h"

namespace {

bool WaitThreadStarted(const JxThread* thread) {
    return thread != nullptr && thread->started();
}

}  // namespace

void IfxChildProcess::SetLaunchOptions(unsigned options) {
    const std::lock_guard<std::mutex> lock(m_plifetime->mutex);
    m_plifetime->options = options;
}

int IfxChildProcess::WaitFor(long milliseconds) {
    return ifxlib::WaitForChild(*m_plifetime, m_pprocess, WaitThreadStarted(m_pthread),
                                milliseconds);
}

int IfxChildProcess::Stop(long graceMilliseconds) {
    return ifxlib::StopChild(*m_plifetime, m_pprocess, WaitThreadStarted(m_pthread),
                             graceMilliseconds);
}

int IfxChildProcess::SendSignal(int signal) {
    return ifxlib::SignalChild(*m_plifetime, signal);
}

int IfxChildProcess::ExitDescriptor() const {
    return ifxlib::ChildExitDescriptor(*m_plifetime);
}

int IfxChildProcess::LaunchError(int* step) const {
    return ifxlib::ChildLaunchError(*m_plifetime, step);
}
