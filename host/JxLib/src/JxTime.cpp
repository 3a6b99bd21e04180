#include <JxLib/JxTime.h>

struct tm* JX_localtime(const time_t* time, struct tm* result) {
    if (time == nullptr || result == nullptr) {
        return nullptr;
    }
    return ::localtime_r(time, result);
}
