#include <JxLib/JXPlatformInfo.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include <ZuUtils/CZuFile.h>

namespace {

std::string registryRoot() {
    const char* root = std::getenv("JX_REGISTRY_DIR");
    return (root != nullptr && *root != '\0') ? root : "/etc/jxregistry";
}

// A section names one file directly inside the root: nothing that could leave it.
bool isPlainSectionName(const char* section) {
    return *section != '\0' && std::strchr(section, '/') == nullptr &&
           std::strcmp(section, ".") != 0 && std::strcmp(section, "..") != 0;
}

// Finds the first "<name><blank or tab><value>" line (or "<name>" alone) of content.
bool findItem(const std::string& content, const std::string& name, std::string& value) {
    std::string::size_type start = 0;
    while (start < content.size()) {
        std::string::size_type end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        const bool comment = content[start] == '#';
        if (!comment && end - start >= name.size() &&
            content.compare(start, name.size(), name) == 0) {
            std::string::size_type after = start + name.size();
            if (after == end) {
                value.clear();
                return true;
            }
            if (content[after] == ' ' || content[after] == '\t') {
                value.assign(content, after + 1, end - after - 1);
                return true;
            }
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

bool JX_ReadRegistryValue(const char* section, const char* name, std::string& value,
                          std::string& error) {
    if (section == nullptr || name == nullptr || *name == '\0') {
        error = "registry lookup without a section or a name";
        return false;
    }
    if (!isPlainSectionName(section)) {
        error = std::string("invalid registry section name '") + section + "'";
        return false;
    }
    std::string content;
    CZuError readError = CZuFile::ReadWholeFile((registryRoot() + "/" + section).c_str(), content);
    if (readError.IsError()) {
        error = std::string("registry section ") + section + ": " + readError.AsString();
        return false;
    }
    if (!findItem(content, name, value)) {
        error = std::string("registry section ") + section + " has no item " + name;
        return false;
    }
    return true;
}

int JXPlatformInfo::getString(const char* section, const char* name, char* out, int* size) {
    if (out == nullptr || size == nullptr) {
        m_lastError = "registry lookup without a buffer";
        return 0;
    }
    std::string value;
    if (!JX_ReadRegistryValue(section, name, value, m_lastError)) {
        return 0;
    }
    if (value.size() >= static_cast<std::string::size_type>(INT_MAX)) {
        m_lastError = std::string("value of ") + name + " is too long";
        return 0;
    }
    const int needed = static_cast<int>(value.size()) + 1;
    if (*size < needed) {
        *size = needed;
        m_lastError =
            std::string("value of ") + name + " needs " + std::to_string(needed) + " bytes";
        return 0;
    }
    std::memcpy(out, value.c_str(), value.size() + 1);
    m_lastError.clear();
    return 1;
}

const char* JXPI_Base::getOrreryTempDirectory() {
    std::string error;
    if (!JX_ReadRegistryValue("Host", "dTEMPDIR", m_tempDirectory, error) ||
        m_tempDirectory.empty()) {
        return nullptr;
    }
    while (m_tempDirectory.size() > 1 && m_tempDirectory.back() == '/') {
        m_tempDirectory.pop_back();
    }
    return m_tempDirectory.c_str();
}
