#pragma once

// A FUSE file system of the tests' own, spoken over /dev/fuse without libfuse: its root
// holds one symbolic link, "program", to a real program, and it can hold the next lookup
// of that link until the test lets it go. A launch of the link's path then stops at a fixed
// point: its child is inside exec, looking the program up, as it would on a hung NFS or
// automount. Entries and attributes are never cached, so every exec looks the link up.
//
// The file system is served by a process of its own, forked from the test, so that
// /dev/fuse is never open in the test process: a child launched from there (which has a
// copy of the test's descriptors until it executes) cannot keep the file system alive. If
// the test dies, the server dies with it (PR_SET_PDEATHSIG), the file system is aborted
// and a held lookup fails instead of hanging its child for ever. The mount lives in a
// private mount namespace that the test process enters first (once), so no other process
// sees it and a failed run leaves no stale mount behind.

#include <sys/types.h>

#include <string>

namespace ifxtest {

class HeldLookupFs {
  public:
    // Why the file system cannot be mounted here (not root, no /dev/fuse), or empty.
    static std::string Unavailable();

    // Mounts on a fresh directory that every user may enter; the link points at target.
    // Call it before the test starts threads of its own: the server is forked.
    explicit HeldLookupFs(std::string target);
    ~HeldLookupFs();
    HeldLookupFs(const HeldLookupFs&) = delete;
    HeldLookupFs& operator=(const HeldLookupFs&) = delete;

    // Empty once mounted and served; else what failed. refusedByHost tells a host that
    // does not allow the mount (no FUSE in the kernel, no privilege to mount) from a fault.
    const std::string& error() const { return m_error; }
    bool refusedByHost() const { return m_refusedByHost; }

    // <mount point>/program.
    std::string LinkPath() const { return m_mountPoint + "/program"; }

    // The next lookup of the link is held until ReleaseLookup.
    void HoldNextLookup();
    // Returns once the held lookup has arrived: its process is inside exec.
    void WaitForHeldLookup();
    // Answers the held lookup; the exec goes on.
    void ReleaseLookup();

  private:
    bool send(char command);
    // The server's next message; 0 when it is gone.
    char receive(std::string* text = nullptr);

    std::string m_target;
    std::string m_mountPoint;
    std::string m_error;
    bool m_refusedByHost = false;
    int m_control = -1;  // our end of the socket pair to the server
    pid_t m_server = -1;
};

}  // namespace ifxtest
