#pragma once

// A FUSE file system of the tests' own, served by a thread of the test process over
// /dev/fuse (no libfuse): its root holds one symbolic link, "program", to a real program.
// It can hold the next lookup of that link until the test lets it go. A launch of the
// link's path then stops at a fixed point: its child is inside exec, looking the program
// up, as it would on a hung NFS or automount. Entries and attributes are never cached, so
// every exec looks the link up again.
//
// The mount lives in a private mount namespace that the test process enters first (once):
// no other process sees it, and a test that dies leaves no stale mount behind. Closing
// /dev/fuse (when the object ends, or the process dies) aborts the file system, and a
// lookup still held then fails, so a held child is never left hanging.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace ifxtest {

class HeldLookupFs {
  public:
    // Why the file system cannot be mounted here (not root, no /dev/fuse), or empty.
    static std::string Unavailable();

    // Mounts on a fresh directory that every user may enter; the link points at target.
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
    bool mount();
    void serve();
    void handle(const char* request, size_t length);
    void reply(uint64_t unique, int error, const void* payload, size_t size);
    void replyEntry(uint64_t unique);
    void wake();

    std::string m_target;
    std::string m_mountPoint;
    std::string m_error;
    bool m_refusedByHost = false;
    int m_device = -1;
    int m_wake = -1;  // eventfd: release or stop
    bool m_mounted = false;
    std::thread m_server;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holdNext = false;
    bool m_held = false;  // a lookup waits for its answer
    uint64_t m_heldUnique = 0;
    bool m_release = false;
    bool m_stop = false;
};

}  // namespace ifxtest
