#include "UtilityEnd.h"

#include <cerrno>

#include "Output.h"

namespace ifxctl {

bool UtilityEnd::Start() {
    m_descriptor = m_child.ExitDescriptor();
    if (m_descriptor < 0) {
        Complain("cannot watch for the end of the utility: " + ErrorText(errno));
        return false;
    }
    return true;
}

Outcome UtilityEnd::Collect() {
    const int status = m_child.WaitFor(-1);
    if (status < 0) {
        Complain("the wait for the utility gave no status: " + ErrorText(errno));
        return {};
    }
    return {true, status};
}

}  // namespace ifxctl
