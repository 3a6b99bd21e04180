#include "DescriptorSweep.h"

#include <IfxLib/platform/HostServices.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ifxlib {

namespace {

// The listing is read into the child's stack. The deepest frames beside it are the log's
// two line buffers and the launch's path and user copies, a few pages together; the buffer
// keeps far below the stack a child sharing the agent's memory gets.
constexpr size_t kListBufferBytes = 4096;
static_assert(kListBufferBytes <= JxChildStackBytes / 32,
              "the descriptor listing must leave the child's stack to the rest of its steps");

// The kernel's own answer to "which file system is this", not a header's: an ordinary
// directory mounted over /proc would list no descriptor, and the child would believe it.
constexpr long kProcSuperMagic = 0x9fa0;

// A getdents64 record: d_ino (8 bytes), d_off (8), d_reclen (2), d_type (1), then the
// NUL-terminated name. Read field by field: the records are packed to 8 bytes, and the
// C library has no declaration of them for the raw call.
constexpr size_t kRecordLengthOffset = 16;
constexpr size_t kNameOffset = 19;

void markCloseOnExec(int fd) {
    // The only failure is EBADF for a number that is not open, which is what the loop meets.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// The descriptor a /proc/self/fd entry names, or -1 for "." and "..".
int descriptorNamed(const char* name) {
    if (*name == '\0') {
        return -1;
    }
    long value = 0;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9' || value > INT_MAX / 10) {
            return -1;
        }
        value = value * 10 + (*name - '0');
    }
    return value <= INT_MAX ? static_cast<int>(value) : -1;
}

bool isProcFileSystem(int directory) {
    struct statfs about {};
    return ::fstatfs(directory, &about) == 0 && static_cast<long>(about.f_type) == kProcSuperMagic;
}

// Marks the descriptors the records of one read name; the directory's own stays as it is
// (close-on-exec already, and closed before exec).
void markListed(const char* records, size_t bytes, int first, int directory) {
    size_t offset = 0;
    while (offset + kNameOffset < bytes) {
        uint16_t length = 0;
        std::memcpy(&length, records + offset + kRecordLengthOffset, sizeof length);
        if (length <= kNameOffset || offset + length > bytes) {
            return;
        }
        const int fd = descriptorNamed(records + offset + kNameOffset);
        if (fd >= first && fd != directory) {
            markCloseOnExec(fd);
        }
        offset += length;
    }
}

}  // namespace

// Raw getdents64, not opendir: readdir's buffer comes from malloc. The child reads its own
// /proc/self/fd, which it may do even after a user switch has made it non-dumpable and
// the directory root's: the kernel lets a process (a thread group's leader, on 3.10)
// into its own descriptor directory whatever the directory's owner.
bool MarkListedDescriptorsFrom(int first) {
    const int directory = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        return false;
    }
    bool complete = isProcFileSystem(directory);
    alignas(8) char records[kListBufferBytes];
    while (complete) {
        const long bytes = ::syscall(SYS_getdents64, directory, records, sizeof records);
        if (bytes == 0) {
            break;
        }
        if (bytes < 0) {
            complete = errno == EINTR;
            continue;
        }
        markListed(records, static_cast<size_t>(bytes), first, directory);
    }
    ::close(directory);
    return complete;
}

void MarkDescriptorsUpToHardLimitFrom(int first) {
    struct rlimit limit {};
    long end = ::getdtablesize();
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        // The soft limit never exceeds the hard one; RLIM_INFINITY is refused for this
        // limit, but the loop must end even if a kernel allowed it.
        end = static_cast<long>(std::min<rlim_t>(limit.rlim_max, INT_MAX));
    }
    for (long fd = first; fd < end; ++fd) {
        markCloseOnExec(static_cast<int>(fd));
    }
}

}  // namespace ifxlib
