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

void writeLogLine(const EvEvent* event, const char* tag, const char* format, va_list args) {
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
    // The caller started args with va_start; the analyzer cannot see across the call.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    used += clampWritten(std::vsnprintf(line + used, sizeof line - used, format, args),
                         sizeof line - used);
    line[used++] = '\n';  // takes the place of the terminating NUL
    event->WriteLine(line, used);
    errno = savedErrno;
}

}  // namespace

void EvDebug::Debug(const EvEvent* event, const char* tag, const char* format, ...) {
    if (event == nullptr || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    writeLogLine(event, tag, format, args);
    va_end(args);
}

void EvDebug::DebugLvl(const EvEvent* event, const char* tag, int level, const char* format, ...) {
    if (event == nullptr || format == nullptr || event->Level() < level) {
        return;
    }
    va_list args;
    va_start(args, format);
    writeLogLine(event, tag, format, args);
    va_end(args);
}
