// Shows the library at work on the bundled defaults.

#include <IfxLib/IfxLib.h>

#include <cstdio>
#include <ctime>

int main() {
    std::printf("date string: %s\n", CreateDateString(static_cast<long>(std::time(nullptr))));
    std::printf("parent pid (ps): %d\n", GET_PARENTPID(GET_CURRENTTHREADID()));
    return 0;
}
