#include "childprocess/HeldLookupFs.h"

#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace ifxtest {

namespace {

// Messages between the test and the server, one byte each (an error text may follow
// kFailed).
constexpr char kHold = 'H';
constexpr char kRelease = 'R';
constexpr char kStop = 'S';
constexpr char kMounted = 'M';
constexpr char kFailed = 'E';
constexpr char kRefused = 'X';  // the host does not allow the mount
constexpr char kHoldArmed = 'h';
constexpr char kLookupHeld = 'L';

constexpr uint64_t kLinkNode = 2;
const char kLinkName[] = "program";

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

// The server: one process, one thread, nothing allocated after the fork.
class Server {
  public:
    Server(const std::string& target, int control) : m_target(target), m_control(control) {}

    [[noreturn]] void Run(const char* mountPoint) {
        m_device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (m_device < 0) {
            fail(kFailed, "open /dev/fuse");
        }
        char options[128];
        // allow_other: a child that switched to another user must still find the link.
        std::snprintf(options, sizeof options,
                      "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other", m_device);
        if (::mount("ifxtest", mountPoint, "fuse", MS_NOSUID | MS_NODEV, options) != 0) {
            fail(errno == EPERM || errno == ENODEV ? kRefused : kFailed, "mount");
        }
        tell(kMounted);
        serve();
        ::umount2(mountPoint, MNT_DETACH);
        ::_exit(0);
    }

  private:
    [[noreturn]] void fail(char kind, const char* what) {
        char text[256];
        const int length =
            std::snprintf(text, sizeof text, "%c%s: %s", kind, what, std::strerror(errno));
        (void)!::send(m_control, text, static_cast<size_t>(std::max(length, 1)), MSG_NOSIGNAL);
        ::_exit(1);
    }

    void tell(char message) { (void)!::send(m_control, &message, 1, MSG_NOSIGNAL); }

    void serve() {
        for (;;) {
            struct pollfd watched[2] = {{m_device, POLLIN, 0}, {m_control, POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (watched[1].revents != 0 && !obey()) {
                return;
            }
            if (watched[0].revents == 0) {
                continue;
            }
            const ssize_t length = ::read(m_device, s_request, sizeof s_request);
            if (length < 0) {
                // ENOENT: a request given up before we read it.
                if (errno == EINTR || errno == EAGAIN || errno == ENOENT) {
                    continue;
                }
                return;  // ENODEV: unmounted
            }
            handle(static_cast<size_t>(length));
        }
    }

    // One command from the test; false when the server is to stop.
    bool obey() {
        char command = 0;
        const ssize_t got = ::recv(m_control, &command, 1, 0);
        if (got <= 0 || command == kStop) {
            return false;
        }
        if (command == kHold) {
            m_holdNext = true;
            tell(kHoldArmed);
        } else if (command == kRelease && m_held) {
            m_held = false;
            replyEntry(m_heldUnique);
        }
        return true;
    }

    void handle(size_t length) {
        struct fuse_in_header header {};
        if (length < sizeof header) {
            return;
        }
        std::memcpy(&header, s_request, sizeof header);
        const char* payload = s_request + sizeof header;
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
            case FUSE_LOOKUP:
                if (header.nodeid != FUSE_ROOT_ID || std::strcmp(payload, kLinkName) != 0) {
                    reply(header.unique, -ENOENT, nullptr, 0);
                } else if (m_holdNext) {
                    m_holdNext = false;
                    m_held = true;
                    m_heldUnique = header.unique;
                    tell(kLookupHeld);
                } else {
                    replyEntry(header.unique);
                }
                return;
            case FUSE_GETATTR: {
                if (header.nodeid != FUSE_ROOT_ID && header.nodeid != kLinkNode) {
                    reply(header.unique, -ENOENT, nullptr, 0);
                    return;
                }
                struct fuse_attr_out out {};
                out.attr = attributesOf(header.nodeid);
                reply(header.unique, 0, &out, sizeof out);
                return;
            }
            case FUSE_READLINK:
                if (header.nodeid != kLinkNode) {
                    reply(header.unique, -EINVAL, nullptr, 0);
                } else {
                    reply(header.unique, 0, m_target.data(), m_target.size());
                }
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

    struct fuse_attr attributesOf(uint64_t node) const {
        struct fuse_attr attr {};
        attr.ino = node;
        attr.nlink = node == kLinkNode ? 1 : 2;
        attr.mode = node == kLinkNode ? (S_IFLNK | 0777) : (S_IFDIR | 0755);
        attr.size = node == kLinkNode ? m_target.size() : 0;
        attr.blksize = 4096;
        return attr;
    }

    void replyEntry(uint64_t unique) {
        // Timeouts of 0: nothing cached, every exec looks the link up again.
        struct fuse_entry_out entry {};
        entry.nodeid = kLinkNode;
        entry.attr = attributesOf(kLinkNode);
        reply(unique, 0, &entry, sizeof entry);
    }

    void reply(uint64_t unique, int error, const void* payload, size_t size) {
        struct fuse_out_header header {};
        header.len = static_cast<uint32_t>(sizeof header + size);
        header.error = error;
        header.unique = unique;
        struct iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(payload), size}};
        // A request the kernel gave up on meanwhile fails with ENOENT: nobody waits for it.
        (void)!::writev(m_device, parts, size > 0 ? 2 : 1);
    }

    // Larger than any request the kernel sends with the max_write given at INIT.
    static char s_request[1 << 20];

    const std::string& m_target;
    int m_control;
    int m_device = -1;
    bool m_holdNext = false;
    bool m_held = false;
    uint64_t m_heldUnique = 0;
};

char Server::s_request[1 << 20];

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
    if (const std::string failure = EnterPrivateMountNamespace(); !failure.empty()) {
        m_error = failure;
        m_refusedByHost = true;
        return;
    }
    char pattern[] = "/tmp/ifxtest-fuse-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::chmod(pattern, 0755) != 0) {
        m_error = std::string("mount point: ") + std::strerror(errno);
        return;
    }
    m_mountPoint = pattern;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        m_error = std::string("socketpair: ") + std::strerror(errno);
        return;
    }
    const pid_t parent = ::getpid();
    m_server = ::fork();
    if (m_server == 0) {
        ::close(ends[0]);
        // Dies with the test, so that its file system is aborted rather than left serving
        // nobody.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
            ::_exit(1);
        }
        Server(m_target, ends[1]).Run(m_mountPoint.c_str());
    }
    ::close(ends[1]);
    m_control = ends[0];
    if (m_server < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        return;
    }
    std::string text;
    const char first = receive(&text);
    if (first != kMounted) {
        m_refusedByHost = first == kRefused;
        m_error = first == 0 ? "the server ended" : text;
    }
}

HeldLookupFs::~HeldLookupFs() {
    if (m_control >= 0) {
        send(kStop);
        ::close(m_control);
    }
    if (m_server > 0) {
        while (::waitpid(m_server, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (!m_mountPoint.empty()) {
        ::rmdir(m_mountPoint.c_str());
    }
}

void HeldLookupFs::HoldNextLookup() {
    // Acknowledged, so that a launch started next is sure to be held.
    if (!send(kHold) || receive() != kHoldArmed) {
        m_error = "the server did not arm the hold";
    }
}

void HeldLookupFs::WaitForHeldLookup() {
    if (receive() != kLookupHeld) {
        m_error = "the server ended before a lookup arrived";
    }
}

void HeldLookupFs::ReleaseLookup() {
    send(kRelease);
}

bool HeldLookupFs::send(char command) {
    return ::send(m_control, &command, 1, MSG_NOSIGNAL) == 1;
}

char HeldLookupFs::receive(std::string* text) {
    char message[256];
    ssize_t got;
    do {
        got = ::recv(m_control, message, sizeof message, 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        return 0;
    }
    if (text != nullptr) {
        text->assign(message + 1, static_cast<size_t>(got - 1));
    }
    return message[0];
}

}  // namespace ifxtest
