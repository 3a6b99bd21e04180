#include "childprocess/HeldLookupFs.h"

#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ifxtest {

namespace {

constexpr uint64_t kLinkNode = 2;
const char kLinkName[] = "program";
// Larger than any request the kernel sends with the max_write given at INIT.
constexpr size_t kRequestBuffer = 1 << 20;

// Entered once per process, by the thread that mounts: threads and children it creates
// afterwards share the namespace, which ends with the last of them.
std::string EnterPrivateMountNamespace() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        if (::unshare(CLONE_NEWNS) != 0) {
            failure = std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            failure = std::string("making / private: ") + std::strerror(errno);
        }
    });
    return failure;
}

struct fuse_attr AttributesOf(uint64_t node, size_t linkSize) {
    struct fuse_attr attr {};
    attr.ino = node;
    attr.nlink = node == kLinkNode ? 1 : 2;
    attr.mode = node == kLinkNode ? (S_IFLNK | 0777) : (S_IFDIR | 0755);
    attr.size = node == kLinkNode ? linkSize : 0;
    attr.blksize = 4096;
    return attr;
}

}  // namespace

std::string HeldLookupFs::Unavailable() {
    if (::geteuid() != 0) {
        return "mounting a FUSE file system needs root";
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        return std::string("no usable /dev/fuse: ") + std::strerror(errno);
    }
    return "";
}

HeldLookupFs::HeldLookupFs(std::string target) : m_target(std::move(target)) {
    if (mount()) {
        m_server = std::thread([this] { serve(); });
    }
}

bool HeldLookupFs::mount() {
    if (const std::string failure = EnterPrivateMountNamespace(); !failure.empty()) {
        m_error = failure;
        m_refusedByHost = true;
        return false;
    }
    char pattern[] = "/tmp/ifxtest-fuse-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        m_error = std::string("mount point: ") + std::strerror(errno);
        return false;
    }
    m_mountPoint = pattern;
    m_device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    if (m_device < 0 || m_wake < 0) {
        m_error = std::string("/dev/fuse or eventfd: ") + std::strerror(errno);
        return false;
    }
    // allow_other: a child that switched to another user must still find the link.
    const std::string options =
        "fd=" + std::to_string(m_device) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    if (::mount("ifxtest", m_mountPoint.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) !=
        0) {
        m_refusedByHost = errno == EPERM || errno == ENODEV;
        m_error = std::string("mount: ") + std::strerror(errno);
        return false;
    }
    m_mounted = true;
    return true;
}

HeldLookupFs::~HeldLookupFs() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    wake();
    if (m_server.joinable()) {
        m_server.join();
    }
    if (m_mounted) {
        ::umount2(m_mountPoint.c_str(), MNT_DETACH);
    }
    // Aborts the connection: a lookup still held fails instead of hanging its process.
    if (m_device >= 0) {
        ::close(m_device);
    }
    if (m_wake >= 0) {
        ::close(m_wake);
    }
    if (!m_mountPoint.empty()) {
        ::rmdir(m_mountPoint.c_str());
    }
}

void HeldLookupFs::HoldNextLookup() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_holdNext = true;
    m_release = false;
}

void HeldLookupFs::WaitForHeldLookup() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_held || m_stop; });
}

void HeldLookupFs::ReleaseLookup() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_release = true;
    }
    wake();
}

void HeldLookupFs::wake() {
    if (m_wake >= 0) {
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
    }
}

void HeldLookupFs::serve() {
    std::vector<char> buffer(kRequestBuffer);
    for (;;) {
        struct pollfd watched[2] = {{m_device, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            uint64_t count = 0;
            (void)!::read(m_wake, &count, sizeof count);
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_stop) {
                return;
            }
            if (m_release && m_held) {
                m_held = false;
                const uint64_t unique = m_heldUnique;
                lock.unlock();
                replyEntry(unique);
            }
        }
        if (watched[0].revents == 0) {
            continue;
        }
        const ssize_t length = ::read(m_device, buffer.data(), buffer.size());
        if (length < 0) {
            // ENOENT: a request that was interrupted before we read it.
            if (errno == EINTR || errno == EAGAIN || errno == ENOENT) {
                continue;
            }
            return;  // ENODEV: unmounted
        }
        handle(buffer.data(), static_cast<size_t>(length));
    }
}

void HeldLookupFs::handle(const char* request, size_t length) {
    struct fuse_in_header header {};
    if (length < sizeof header) {
        return;
    }
    std::memcpy(&header, request, sizeof header);
    const char* payload = request + sizeof header;
    switch (header.opcode) {
        case FUSE_INIT: {
            struct fuse_init_in in {};
            std::memcpy(&in, payload, std::min(sizeof in, length - sizeof header));
            struct fuse_init_out out {};
            out.major = FUSE_KERNEL_VERSION;
            out.minor = FUSE_KERNEL_MINOR_VERSION;
            out.max_readahead = in.max_readahead;
            out.max_background = 16;
            out.congestion_threshold = 12;
            out.max_write = 4096;
            out.time_gran = 1;
            reply(header.unique, 0, &out, sizeof out);
            return;
        }
        case FUSE_LOOKUP: {
            if (header.nodeid != FUSE_ROOT_ID || std::strcmp(payload, kLinkName) != 0) {
                reply(header.unique, -ENOENT, nullptr, 0);
                return;
            }
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (m_holdNext) {
                    m_holdNext = false;
                    m_held = true;
                    m_heldUnique = header.unique;
                    m_changed.notify_all();
                    // A release that came first is answered at once below.
                    if (!m_release) {
                        return;
                    }
                    m_held = false;
                }
            }
            replyEntry(header.unique);
            return;
        }
        case FUSE_GETATTR: {
            if (header.nodeid != FUSE_ROOT_ID && header.nodeid != kLinkNode) {
                reply(header.unique, -ENOENT, nullptr, 0);
                return;
            }
            struct fuse_attr_out out {};
            out.attr = AttributesOf(header.nodeid, m_target.size());
            reply(header.unique, 0, &out, sizeof out);
            return;
        }
        case FUSE_READLINK:
            if (header.nodeid != kLinkNode) {
                reply(header.unique, -EINVAL, nullptr, 0);
                return;
            }
            reply(header.unique, 0, m_target.data(), m_target.size());
            return;
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
            return;  // no answer expected
        default:
            reply(header.unique, -ENOSYS, nullptr, 0);
            return;
    }
}

void HeldLookupFs::replyEntry(uint64_t unique) {
    struct fuse_entry_out entry {};
    entry.nodeid = kLinkNode;
    // Timeouts of 0: nothing cached, every exec looks the link up again.
    entry.attr = AttributesOf(kLinkNode, m_target.size());
    reply(unique, 0, &entry, sizeof entry);
}

void HeldLookupFs::reply(uint64_t unique, int error, const void* payload, size_t size) {
    struct fuse_out_header header {};
    header.len = static_cast<uint32_t>(sizeof header + size);
    header.error = error;
    header.unique = unique;
    struct iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(payload), size}};
    // A request the kernel gave up on (its process was interrupted) makes this fail with
    // ENOENT, which nobody needs to know.
    (void)!::writev(m_device, parts, size > 0 ? 2 : 1);
}

}  // namespace ifxtest
