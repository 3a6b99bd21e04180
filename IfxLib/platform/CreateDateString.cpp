#include <IfxLib/IfxLib.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <IfxLib/platform/HostServices.h>

namespace {
char datebuf[32];
const char dateprintf[] = "%02d_%02d_%d-%02d:%02d:%02d";
}  // namespace

char* CreateDateString(long time) {
    const time_t seconds = static_cast<time_t>(time);
    struct tm broken {};
    const struct tm* local = JX_localtime(&seconds, &broken);
    if (local == nullptr) {
        // A time the C library cannot convert leaves an empty text, not a stale one.
        datebuf[0] = '\0';
        return datebuf;
    }
    // Wide enough for any six ints; only a year beyond four digits gets near the end of
    // datebuf, and the text is cut there rather than written past it.
    char text[96];
    std::snprintf(text, sizeof text, dateprintf, local->tm_mon + 1, local->tm_mday,
                  local->tm_year + 1900, local->tm_hour, local->tm_min, local->tm_sec);
    std::strncpy(datebuf, text, sizeof datebuf - 1);
    datebuf[sizeof datebuf - 1] = '\0';
    return datebuf;
}
