#include <cstring>
#include <string>

#include <IfxLib/IfxLib.h>
#include <IfxLib/platform/HostServices.h>

namespace {

enum class OptionLookup { kFound, kAbsent, kNoValue };

// Finds the first element equal to option and, when an element follows it, that value.
OptionLookup findOption(int argc, char** argv, const char* option, const char*& value) {
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        if (std::strcmp(argv[i], option) != 0) {
            continue;
        }
        if (i + 1 >= argc || argv[i + 1] == nullptr) {
            return OptionLookup::kNoValue;
        }
        value = argv[i + 1];
        return OptionLookup::kFound;
    }
    return OptionLookup::kAbsent;
}

// A value that does not fit is refused whole, never cut: a truncated name would name
// another client or instance.
int copyIfFits(const char* text, char* buffer, unsigned int size) {
    const std::size_t length = std::strlen(text);
    if (length + 1 > size) {
        return -1;
    }
    std::memcpy(buffer, text, length + 1);
    return 0;
}

}  // namespace

int GetClientName(int argc, char** argv, char* name, unsigned int size) {
    if (argc > 1 && argv == nullptr) {
        return -1;
    }
    if (argc > 1) {
        const char* value = nullptr;
        switch (findOption(argc, argv, "-cn", value)) {
            case OptionLookup::kFound:
                return name != nullptr ? copyIfFits(value, name, size) : -1;
            case OptionLookup::kAbsent:
                // Started with arguments but no client name: the caller's default stands,
                // and the buffer is not looked at, so even a null one gives 0.
                return 0;
            case OptionLookup::kNoValue:
                return -1;
        }
    }
    if (name == nullptr) {
        return -1;
    }
    const unsigned int length = GETENVIRONMENTVARIABLE("JxClientName", name, size);
    return (length != 0 && length < size) ? 0 : -1;
}

int GetInstanceName(int argc, char** argv, char* name, unsigned int size) {
    if (name == nullptr || (argc > 1 && argv == nullptr)) {
        return -1;
    }
    if (argc > 1) {
        const char* value = nullptr;
        if (findOption(argc, argv, "-vm", value) != OptionLookup::kFound) {
            return -1;
        }
        return copyIfFits(value, name, size);
    }
    char local[128] = {};
    const unsigned int length = GETENVIRONMENTVARIABLE("JxInstanceName", local, sizeof local);
    if (length == 0 || length >= sizeof local) {
        return -1;
    }
    return copyIfFits(local, name, size);
}

int GetIfxSID(std::string& sid) {
    constexpr const char* kTag = "::GetIfxSID";
    EvEvent event;
    char local[512] = {};
    const unsigned int length = GETENVIRONMENTVARIABLE("INFORMIXSERVER", local, sizeof local);
    if (length == 0) {
        EvDebug::Debug(&event, kTag,
                       "Did not set INFORMIXSERVER or INSTANCE_NAME in the client environment");
        return -1;
    }
    if (length >= sizeof local) {
        // Server names are short; a value this long is a broken environment, and a cut
        // one would name another server.
        EvDebug::Debug(&event, kTag,
                       "INFORMIXSERVER is %u characters long, more than the %zu allowed",
                       length - 1, sizeof local - 1);
        return -1;
    }
    EvDebug::DebugLvl(&event, kTag, 2, "Got INFORMIXSERVER %s", local);
    sid = local;
    return 0;
}
