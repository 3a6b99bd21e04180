// WriteBuf and ReadBuf: the parent's side of the two pipes.

#include <IfxLib/IfxLib.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <IfxLib/platform/HostServices.h>

namespace {

constexpr int kShortWrite = -2;
constexpr int kNoDataYet = EAGAIN;
constexpr int kOutputEnded = EPIPE;

// One read or write. It is not resumed after a signal: agent code interrupts a blocked
// transfer with a signal on purpose, and learns of it by EINTR. A descriptor this object
// no longer holds may by now carry someone else's file, so it is never touched again; the
// call fails as on a closed descriptor.
template <typename Transfer>
ssize_t transferOnce(bool held, Transfer transfer) {
    if (!held) {
        errno = EBADF;
        return -1;
    }
    return transfer();
}

}  // namespace

int IfxChildProcess::WriteBuf(char* text) {
    static const char kTag[] = "IfxChildProcess::WriteBuf";
    m_lasterror = 0;
    if (text == nullptr || text[0] == '\0') {
        return 0;
    }
    const size_t length = std::strlen(text) + 1;  // the child splits commands at the NUL
    const ssize_t written =
        transferOnce(m_bownpipepw[1], [&] { return ::write(m_phpipepw[1], text, length); });
    if (written != static_cast<ssize_t>(length)) {
        const int error = written < 0 ? errno : kShortWrite;
        m_lasterror = error;
        EvDebug::Debug(m_pevent, kTag, "write failed: errno=%d", error);
        Finalize();
        // Finalize starts by clearing it; the caller still needs the write's reason.
        m_lasterror = error;
        return -1;
    }
    EvDebug::DebugLvl(m_pevent, kTag, 2, "write %d bytes", static_cast<int>(written));
    return 0;
}

int IfxChildProcess::ReadBuf(char* buffer, long size) {
    static const char kTag[] = "IfxChildProcess::ReadBuf";
    m_lasterror = 0;
    ssize_t received;
    // A read of nothing would come back as 0, which means the end of the output.
    if (buffer == nullptr || size <= 0) {
        errno = EINVAL;
        received = -1;
    } else {
        std::memset(buffer, 0, static_cast<size_t>(size));
        received = transferOnce(m_bownpipecw[0], [&] {
            return ::read(m_phpipecw[0], buffer, static_cast<size_t>(size));
        });
    }
    if (received < 0) {
        m_lasterror = errno;
        EvDebug::DebugLvl(m_pevent, kTag, 12, "read failed: errno=%d",
                          static_cast<int>(m_lasterror));
        return -1;
    }
    if (received == 0) {
        // In non-blocking mode the end of the output is final only once the wait thread
        // has seen the child end; until then the caller keeps polling.
        if (m_bnonblocking && !m_bwaitdone && !m_bwaitfailed) {
            m_lasterror = kNoDataYet;
            return -1;
        }
        if (m_bnonblocking) {
            m_beof = true;
        }
        m_lasterror = kOutputEnded;
        return -1;
    }
    // Bounded by the count: a full buffer carries no terminating NUL.
    EvDebug::DebugLvl(m_pevent, kTag, 2, "Received(%d bytes):%.*s", static_cast<int>(received),
                      static_cast<int>(received), buffer);
    return 0;
}

long IfxChildProcess::WriteBytes(const void* data, size_t length) {
    if (data == nullptr && length > 0) {
        errno = EINVAL;
        return -1;
    }
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    // A blocking pipe takes a write whole unless a signal handler interrupts it (or the
    // reader goes) part way: write then returns what went, and so does this call, as the
    // caller's signal was meant to end it. The loop only splits a length beyond SSIZE_MAX.
    while (done < length) {
        const size_t piece = std::min(length - done, static_cast<size_t>(SSIZE_MAX));
        const ssize_t written = transferOnce(
            m_bownpipepw[1], [&] { return ::write(m_phpipepw[1], bytes + done, piece); });
        if (written < 0) {
            return done > 0 ? static_cast<long>(done) : -1;
        }
        done += static_cast<size_t>(written);
        if (static_cast<size_t>(written) < piece) {
            break;
        }
    }
    return static_cast<long>(done);
}

long IfxChildProcess::ReadBytes(void* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        errno = EINVAL;
        return -1;
    }
    const size_t wanted = std::min(size, static_cast<size_t>(SSIZE_MAX));
    return static_cast<long>(
        transferOnce(m_bownpipecw[0], [&] { return ::read(m_phpipecw[0], buffer, wanted); }));
}

int IfxChildProcess::CloseInput() {
    CloseIfOwned(m_phpipepw[1], m_bownpipepw[1]);
    return 0;
}
