#include <IfxLib/IfxLib.h>

#include <cstddef>
#include <cstdio>
#include <ctime>

#include <IfxLib/platform/HostServices.h>

#include "EnvironmentLock.h"

namespace {
char datebuf[32];
// The year is a long long: tm_year + 1900 leaves the range of int for the last years the
// C library can convert.
const char dateprintf[] = "%02d_%02d_%lld-%02d:%02d:%02d";
}  // namespace

char* CreateDateString(long time) {
    const time_t seconds = static_cast<time_t>(time);
    // localtime_r reads TZ once per process, so a zone the agent changed at run time would
    // go unseen; tzset reads it again. Under the environment lock, so that a change made
    // through SETENVIRONMENTVARIABLE on another thread is never read half made.
    {
        const auto environmentLock = ifxlib::LockEnvironment();
        ::tzset();
    }
    struct tm broken {};
    const struct tm* local = JX_localtime(&seconds, &broken);
    if (local == nullptr) {
        // A time the C library cannot convert leaves an empty text, not a stale one.
        datebuf[0] = '\0';
        return datebuf;
    }
    // At most 26 characters: a year of 11 (an int plus 1900, sign included) and five
    // fields of two, which the C library keeps in range. Should a text not fit all the
    // same, no cut date is handed out.
    const int length = std::snprintf(datebuf, sizeof datebuf, dateprintf, local->tm_mon + 1,
                                     local->tm_mday, static_cast<long long>(local->tm_year) + 1900,
                                     local->tm_hour, local->tm_min, local->tm_sec);
    if (length < 0 || static_cast<size_t>(length) >= sizeof datebuf) {
        datebuf[0] = '\0';
    }
    return datebuf;
}
