// Token arrays and the small helpers: who allocates, who releases, what stays shared.

#include <IfxLib/IfxLib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main() {
    bool ok = true;

    // A new array of exactly the tokens, each its own malloc block; the caller owns all
    // of it and releases it with free_split_array.
    int count = 0;
    char** tokens = CommandLineToArgv("onbar -b  -L 0", &count, " ");
    if (tokens == nullptr) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        std::printf("token %d: %s\n", i, tokens[i]);
    }
    ok = ok && count == 4 && std::strcmp(tokens[3], "0") == 0;
    free_split_array(count, tokens);

    // Two separator sets split like their union.
    char** fields = SplitLine("a,b;c", &count, ";", ",");
    ok = ok && fields != nullptr && count == 3;
    free_split_array(count, fields);

    // split fills an array of the caller's with room for every token. free_split_array
    // releases the array too, so it comes from malloc; zero-filled, a failed allocation
    // (a null entry, result -1) is released the same way over the whole capacity.
    const int capacity = 8;
    char** slots = static_cast<char**>(std::calloc(capacity, sizeof(char*)));
    if (slots == nullptr) {
        return 1;
    }
    const int found = split("x y z", slots, " ");
    ok = ok && found == 3;
    free_split_array(found < 0 ? capacity : found, slots);

    // TRIM works in place: the result points into the buffer, past leading blanks.
    char padded[] = "  value \t";
    const char* trimmed = TRIM(padded);
    ok = ok && std::strcmp(trimmed, "value") == 0;

    // CreateDateString returns one static buffer that the next call overwrites: copy it
    // before calling again, from this thread or any other.
    const std::string epoch = CreateDateString(0);
    const std::string later = CreateDateString(86400);
    std::printf("dates: %s, %s\n", epoch.c_str(), later.c_str());
    ok = ok && epoch != later;

    // GETENVIRONMENTVARIABLE: the length, or the capacity needed plus nothing copied.
    SETENVIRONMENTVARIABLE("IFXLIB_EXAMPLE", " spaced ");
    char small[4];
    char large[32];
    const unsigned int needed = GETENVIRONMENTVARIABLE("IFXLIB_EXAMPLE", small, sizeof small);
    const unsigned int length = GETENVIRONMENTVARIABLE("IFXLIB_EXAMPLE", large, sizeof large);
    std::printf("needed %u, length %u, value '%s'\n", needed, length, large);
    ok = ok && needed == 7 && length == 6 && std::strcmp(large, "spaced") == 0;

    return ok ? 0 : 1;
}
