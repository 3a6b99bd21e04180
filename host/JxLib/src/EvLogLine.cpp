#include <JxLib/EvEvent.h>

#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

constexpr size_t kLineCapacity = 4096;

struct CivilTime {
    long long year;
    unsigned month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days_from_civil
// inverse). Done by hand because gmtime_r and localtime_r take a lock inside the C
// library, which a child forked from a multi-threaded process may find held forever.
CivilTime civilFromEpochSeconds(time_t seconds) {
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    CivilTime civil{};
    civil.day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    civil.month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    civil.year = static_cast<long long>(yearOfEra) + era * 400 + (civil.month <= 2 ? 1 : 0);
    civil.hour = static_cast<unsigned>(rest / 3600);
    civil.minute = static_cast<unsigned>(rest % 3600 / 60);
    civil.second = static_cast<unsigned>(rest % 60);
    return civil;
}

size_t clampWritten(int result, size_t room) {
    if (result < 0) {
        return 0;
    }
    return static_cast<size_t>(result) < room ? static_cast<size_t>(result) : room - 1;
}

// Copies message into out (room bytes) with every control character but tab written as an
// escape, stopping before an escape that would not fit whole. The number of bytes written.
size_t copyEscaped(const char* message, size_t length, char* out, size_t room) {
    static const char kHex[] = "0123456789abcdef";
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        char escape[4];
        size_t escapeLength = 2;
        escape[0] = '\\';
        if (byte == '\n') {
            escape[1] = 'n';
        } else if (byte == '\r') {
            escape[1] = 'r';
        } else if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
            escape[1] = 'x';
            escape[2] = kHex[byte >> 4];
            escape[3] = kHex[byte & 0xf];
            escapeLength = 4;
        } else {
            escape[0] = static_cast<char>(byte);
            escapeLength = 1;
        }
        if (room - used < escapeLength) {
            break;
        }
        for (size_t k = 0; k < escapeLength; ++k) {
            out[used++] = escape[k];
        }
    }
    return used;
}

void writeLogLine(const EvEvent* event, int fallback, const char* tag, const char* format,
                  va_list args) {
    const int savedErrno = errno;  // logging must not disturb the caller's error code
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const CivilTime civil = civilFromEpochSeconds(now.tv_sec);

    char line[kLineCapacity];
    size_t used = clampWritten(
        std::snprintf(line, sizeof line, "%04lld-%02u-%02u %02u:%02u:%02u.%06ld %d %ld [%s] ",
                      civil.year, civil.month, civil.day, civil.hour, civil.minute, civil.second,
                      now.tv_nsec / 1000, static_cast<int>(::getpid()),
                      static_cast<long>(::syscall(SYS_gettid)), tag != nullptr ? tag : ""),
        sizeof line);
    // The message is formatted apart and copied in escaped; it cannot be longer than the
    // line anyway. Its length comes from vsnprintf, so a NUL it holds (from %c) is escaped
    // rather than taken for its end.
    char message[kLineCapacity];
    // The caller started args with va_start; the analyzer cannot see across the call.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const size_t messageLength =
        clampWritten(std::vsnprintf(message, sizeof message, format, args), sizeof message);
    // One byte stays free for the newline.
    used += copyEscaped(message, messageLength, line + used, sizeof line - 1 - used);
    line[used++] = '\n';
    event->WriteLine(line, used, fallback);
    errno = savedErrno;
}

}  // namespace

void EvDebug::Debug(const EvEvent* event, const char* tag, const char* format, ...) {
    if (event == nullptr || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    writeLogLine(event, STDERR_FILENO, tag, format, args);
    va_end(args);
}

void EvDebug::DebugLvl(const EvEvent* event, const char* tag, int level, const char* format, ...) {
    if (event == nullptr || format == nullptr || event->Level() < level) {
        return;
    }
    va_list args;
    va_start(args, format);
    writeLogLine(event, STDERR_FILENO, tag, format, args);
    va_end(args);
}

void EvDebug::DebugWithFallback(const EvEvent* event, int fallback, const char* tag,
                                const char* format, ...) {
    if (event == nullptr || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    writeLogLine(event, fallback, tag, format, args);
    va_end(args);
}

void EvDebug::DebugLvlWithFallback(const EvEvent* event, int fallback, const char* tag, int level,
                                   const char* format, ...) {
    if (event == nullptr || format == nullptr || event->Level() < level) {
        return;
    }
    va_list args;
    va_start(args, format);
    writeLogLine(event, fallback, tag, format, args);
    va_end(args);
}

void EvDebug::VDebugLvlWithFallback(const EvEvent* event, int fallback, const char* tag, int level,
                                    const char* format, va_list args) {
    if (event == nullptr || format == nullptr || event->Level() < level) {
        return;
    }
    writeLogLine(event, fallback, tag, format, args);
}
