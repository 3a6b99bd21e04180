// A utility's life under the agent's control: a plain byte stream through a filter, a
// bounded wait and a stop, and a launch error read from the object.
//
//   bounded_life FILTER UTILITY
//
// FILTER copies its input to its output (/bin/cat); UTILITY as for launch_and_talk. No
// user is named: the children keep ours.

#include <IfxLib/IfxLib.h>
#include <JxLib/EvEvent.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Bytes in, bytes out, NULs and all; the end of the input ends the filter.
bool filterBytes(std::string path, EvEvent& event) {
    IfxChildProcess child;
    if (child.Initialize(path.data(), nullptr, nullptr, nullptr, nullptr, &event, false, false,
                         false, nullptr) != 0) {
        return false;
    }
    const std::string data("key\0value\0\0end", 14);
    const long written = child.WriteBytes(data.data(), data.size());
    child.CloseInput();  // the filter sees the end of its input and ends
    std::string output;
    char buffer[4096];
    long count;
    while ((count = child.ReadBytes(buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<size_t>(count));
    }
    const int status = child.WaitFor(60000);  // reaps the child after Initialize too
    child.Finalize();
    std::printf("filter: %ld bytes written, %zu read back, status %d\n", written, output.size(),
                status);
    return written == static_cast<long>(data.size()) && count == 0 && output == data && status == 0;
}

// A utility that waits for commands does not end by itself: bound the wait, then stop it
// and whatever it started.
bool boundAndStop(std::string path, EvEvent& event) {
    IfxChildProcess child;
    child.SetLaunchOptions(IfxChildProcess::kOwnProcessGroup);
    if (child.Initialize(path.data(), nullptr, nullptr, nullptr, nullptr, &event, false, false,
                         false, nullptr) != 0) {
        return false;
    }
    if (child.WaitFor(200) == -1 && errno == ETIMEDOUT) {
        std::printf("utility: still running after 200 ms\n");
    }
    // SIGTERM, up to 5 seconds for the utility to end, then SIGKILL.
    const int status = child.Stop(5000);
    child.Finalize();
    if (status == -1) {
        std::fprintf(stderr, "stop failed: %s\n", std::strerror(errno));
        return false;
    }
    std::printf("utility: stopped, status %d\n", status);
    return status == 128 + SIGTERM;
}

// Why a launch failed, without reading the log.
bool launchError(EvEvent& event) {
    IfxChildProcess child;
    char missing[] = "/no/such/utility";
    if (child.Initialize(missing, nullptr, nullptr, nullptr, nullptr, &event, false, false, false,
                         nullptr) != 0) {
        return false;
    }
    const int status = child.WaitFor(-1);  // 79: the program could not be executed
    int step = 0;
    const int error = child.LaunchError(&step);
    if (error > 0) {
        std::printf("launch: step %d failed: %s\n", step, std::strerror(error));
    }
    child.Finalize();
    return status == 79 && error == ENOENT && step == 79;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILTER UTILITY\n", argv[0]);
        return 2;
    }
    EvEvent event;
    const bool filtered = filterBytes(argv[1], event);
    const bool stopped = boundAndStop(argv[2], event);
    const bool reported = launchError(event);
    return filtered && stopped && reported ? 0 : 1;
}
