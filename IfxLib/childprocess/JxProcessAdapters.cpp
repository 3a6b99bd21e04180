// The process service's calls with the error text in a caller's character buffer. Not
// exported: only this library's own calls use them.

#include <cerrno>
#include <cstring>
#include <string>

#include <IfxLib/platform/HostServices.h>

namespace {

// Cut to size - 1 characters and always terminated. errno is the caller's to read after
// a failure, so the copy must not disturb it.
void copyErrorText(const std::string& text, char* errorText, int size) {
    if (errorText == nullptr || size <= 0) {
        return;
    }
    const int saved = errno;
    std::strncpy(errorText, text.c_str(), static_cast<size_t>(size));
    errorText[size - 1] = '\0';
    errno = saved;
}

}  // namespace

bool JxProcess::Fork(void (*callback)(void*), void* argument, char* errorText, int size) {
    std::string text;
    const bool started = Fork(callback, argument, &text);
    if (!started) {
        copyErrorText(text, errorText, size);
    }
    return started;
}

bool JxProcess::Spawn(void (*callback)(void*), void* argument, char* errorText, int size) {
    std::string text;
    const bool started = Spawn(callback, argument, &text);
    if (!started) {
        copyErrorText(text, errorText, size);
    }
    return started;
}

bool JxProcess::WaitForProcessToEnd(int& status, char* errorText, int size, int timeout) {
    std::string text;
    const bool ended = WaitForProcessToEnd(&status, &text, timeout);
    if (!ended) {
        copyErrorText(text, errorText, size);
    }
    return ended;
}
