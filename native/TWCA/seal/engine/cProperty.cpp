#include "cProperty.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>


#include "cChars.h"
#include "cFile.h"
#include "cLog.h"
#include "cPlatformFolder.h"

namespace {

bool isTrimmed(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

std::string trim(const char* begin, const char* end) {
    while (begin < end && isTrimmed(static_cast<unsigned char>(*begin))) ++begin;
    while (end > begin && isTrimmed(static_cast<unsigned char>(end[-1]))) --end;
    return std::string(begin, end);
}

// The password keys: their values never reach the log.
bool isSecret(const char* name) {
    return std::strcmp(name, "PFX.pswd") == 0 || std::strcmp(name, "PFX.pswdB64") == 0;
}

const char kHidden[] = "********";

}  // namespace

cProperty::~cProperty() = default;

const size_t cProperty::kMaxLineContent;

bool cProperty::fitsLine(const char* name, const char* value, size_t length) {
    if (name == nullptr || (value == nullptr && length != 0)) return false;
    const size_t nameLength = std::strlen(name);
    if (nameLength + 3 > kMaxLineContent || length > kMaxLineContent - nameLength - 3) return false;
    if (length == 0) return true;
    const auto* v = reinterpret_cast<const unsigned char*>(value);
    if (isTrimmed(v[0]) || isTrimmed(v[length - 1])) return false;
    for (size_t i = 0; i < length; ++i) {
        if (v[i] == '\n' || v[i] == '\r' || v[i] == '\0') return false;
    }
    return true;
}

bool cProperty::loadFromFile(const char* propertyFile) {
    if (loaded) return true;
    try {
        cLog& log = cLog::instance();
        workingPath = cCurrentFolder();
        log.param("propertyFile", propertyFile ? propertyFile : "");
        if (propertyFile == nullptr || *propertyFile == '\0') {
            log.error("propertyFile ERROR!", propertyFile ? propertyFile : "");
            return false;
        }
        if (workingPath.empty() || workingPath[0] != '/') log.debug("Current working path", workingPath);
        cFile file;
        if (!file.loadFromFile(propertyFile)) {
            log.error("loadFromFile()", propertyFile);
            loaded = false;
        } else {
            loaded = parse(file.c_str());
        }
        log.debug("end cProperty::loadFromFile() return", loaded);
        return loaded;
    } catch (...) {
        properties.clear();
        loaded = false;
        return false;
    }
}

bool cProperty::parse(const char* text) {
    properties.clear();
    cLog& log = cLog::instance();
    try {
        if (text != nullptr && *text != '\0') {
            const char* p = text;
            while (*p != '\0') {
                const char* lineEnd = std::strchr(p, '\n');
                const char* next = lineEnd ? lineEnd + 1 : p + std::strlen(p);
                if (lineEnd == nullptr) lineEnd = next;
                // A line longer than the line buffer ends the parse; entries
                // stored before it stay.
                if (static_cast<size_t>(lineEnd - p) > kMaxLineContent) break;
                const char first = *p;
                const char* equals = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(lineEnd - p)));
                if (lineEnd != p && first != '#' && first != ';' && equals != nullptr) {
                    std::string name = trim(p, equals);
                    std::string value = trim(equals + 1, lineEnd);
                    auto old = properties.find(name);
                    if (old != properties.end()) {
                        properties.erase(old);
                        log.warn("Erase duplicate MAP Name", name);
                    }
                    log.debug("Insert MAP Name", name);
                    log.debug("Insert MAP Value", [&] { return isSecret(name.c_str()) ? kHidden : value.c_str(); });
                    properties.emplace(std::move(name), std::move(value));
                }
                p = next;
            }
            log.debug("properties.size()", static_cast<int>(properties.size()));
        }
    } catch (...) {
        properties.clear();
    }
    const bool result = !properties.empty();
    log.debug("end cProperty::parse() return", result);
    return result;
}

const std::string* cProperty::find(const char* name) const {
    if (name == nullptr || *name == '\0') return nullptr;
    try {
        const auto it = properties.find(std::string(name));
        return it == properties.end() ? nullptr : &it->second;
    } catch (...) {
        return nullptr;
    }
}

std::string cProperty::getProperty(const char* name) const {
    const std::string* value = find(name);
    if (value == nullptr) return std::string();
    cLog& log = cLog::instance();
    log.debug([&] { return cLog::format("cProperty::getProperty() : %s", name); },
              [&] { return isSecret(name) ? kHidden : value->c_str(); });
    try {
        return *value;
    } catch (...) {
        return std::string();
    }
}

int cProperty::getPropertyInt(const char* name, std::string* error) const {
    if (error) error->clear();
    const std::string* value = find(name);
    if (value == nullptr) return -1;
    cLog& log = cLog::instance();
    // The conversion of std::stoi (strtol in base 10, then the int range),
    // reported without throwing.
    const char* start = value->c_str();
    char* end = nullptr;
    errno = 0;
    const long converted = std::strtol(start, &end, 10);
    const char* failure = nullptr;
    if (end == start)
        failure = "invalid stoi argument";
    else if (errno == ERANGE || converted < INT_MIN || converted > INT_MAX)
        failure = "stoi argument out of range";
    if (failure != nullptr) {
        if (error) {
            try {
                *error = failure;
            } catch (...) {
            }
        }
        log.error([&] { return cLog::format("cProperty::getPropertyInt() : %s", name); }, failure);
        return -1;
    }
    const int result = static_cast<int>(converted);
    log.debug([&] { return cLog::format("cProperty::getPropertyInt() : %s", name); }, result);
    return result;
}

bool cProperty::getPropertyBool(const char* name) const {
    const std::string* value = find(name);
    if (value == nullptr) return false;
    const bool result = cChars::equalsIgnoreCase(value->c_str(), "TRUE") && value->size() == 4;
    cLog& log = cLog::instance();
    log.debug([&] { return cLog::format("cProperty::getProperty() : %s", name); }, result);
    return result;
}
