#pragma once

// What the parent works out for a child before the fork, so that between fork and exec
// the child takes no lock that another thread of the parent might have held.

#include "ChildEnvironment.h"
#include "UserResolution.h"

namespace ifxlib {

struct ChildPreparation {
    ResolvedUser user;
    ChildEnvironment environment;
};

}  // namespace ifxlib
