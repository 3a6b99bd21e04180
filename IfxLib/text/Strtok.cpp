#include <cstring>

#include <IfxLib/IfxLib.h>

// Agent code shared with the Windows build calls the tokenizer by this name; on Linux it
// is strtok_r itself, so both builds agree on every token.
char* STRTOK(char* str, const char* delim, char** saveptr) {
    return ::strtok_r(str, delim, saveptr);
}
