#include <ZuUtils/ZuSleep.h>

#include <cerrno>
#include <ctime>

void ZUSLEEP_InTeRnAl(unsigned long duration, const char* /*file*/, int /*line*/) {
    struct timespec remaining {};
    remaining.tv_sec = static_cast<time_t>(duration / 1000000UL);
    remaining.tv_nsec = static_cast<long>((duration % 1000000UL) * 1000UL);
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
