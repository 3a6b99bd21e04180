// ifxtest-kernel-view VIEW -- COMMAND [ARGUMENT...]
//
// Runs COMMAND under the view of an older kernel (KernelView.h: 5.4, 4.19 or 3.10), with
// everything it starts, so that `ifxtest-kernel-view 3.10 -- ctest ...` runs the tests as
// on a kernel that lacks what came after 3.10. IFXTEST_KERNEL_VIEW names the view for the
// tests that need to know the surface they run under. A view that cannot be entered ends
// the program with 125 rather than running the command on the full kernel.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/KernelView.h"

namespace {

constexpr int kCannotEnter = 125;
constexpr int kCannotRun = 127;

int Usage() {
    std::string names;
    for (const std::string& name : ifxtest::KernelViewNames()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    std::fprintf(stderr, "usage: ifxtest-kernel-view VIEW -- COMMAND [ARGUMENT...]\nviews: %s\n",
                 names.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        return Usage();
    }
    const std::string view = argv[1];
    if (const int error = ifxtest::EnterKernelView(view); error != 0) {
        if (error == EINVAL) {
            std::fprintf(stderr, "ifxtest-kernel-view: no view '%s'\n", view.c_str());
            return Usage();
        }
        std::fprintf(stderr, "ifxtest-kernel-view: cannot enter the view of %s: %s\n", view.c_str(),
                     std::strerror(error));
        return kCannotEnter;
    }
    if (::setenv("IFXTEST_KERNEL_VIEW", view.c_str(), 1) != 0) {
        std::perror("ifxtest-kernel-view: setenv");
        return kCannotEnter;
    }
    ::execvp(argv[3], argv + 3);
    std::fprintf(stderr, "ifxtest-kernel-view: cannot run %s: %s\n", argv[3], std::strerror(errno));
    return kCannotRun;
}
