#include <climits>
#include <cstring>
#include <string>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

const char c_ifxSubKey[] = "InformixAgent";
const char c_hubMaster[] = "Hubmaster";

namespace {

// The reader's capacity is a signed int; a larger buffer is used only up to INT_MAX.
int readerCapacity(unsigned int size) {
    return size > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Settings are often edited by hand; blanks around a value are never meant.
void trimInPlace(char* value) {
    std::string text(value);
    trim_both(text);
    std::memcpy(value, text.c_str(), text.size() + 1);
}

}  // namespace

int GetRegistryItemValue(const char* name, char* value, unsigned int size, const char* /*section*/,
                         bool /*option*/) {
    // Without room for the terminator there is nothing the buffer could hold, not even
    // the empty string a failed lookup leaves.
    if (value == nullptr || size == 0) {
        return -1;
    }
    int capacity = readerCapacity(size);
    value[0] = '\0';
    JXPlatformInfo reader;
    const int result = reader.getString(c_ifxSubKey, name, value, &capacity) != 0 ? 0 : -1;
    trimInPlace(value);
    return result;
}

int CheckRegistryItemValue(const char* name, bool option) {
    char scratch[128];
    return GetRegistryItemValue(name, scratch, sizeof scratch, nullptr, option) == 0 ? 1 : 0;
}
