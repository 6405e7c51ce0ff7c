// The signing engine's properties file: "name = value" lines read once into an
// ordered map and looked up as text, integer or boolean.  Every step is logged
// through cLog.  Nothing here throws.
#ifndef ORVANE_ENGINE_CPROPERTY_H
#define ORVANE_ENGINE_CPROPERTY_H

#include <map>
#include <string>

class cProperty {
public:
    cProperty() = default;
    virtual ~cProperty();
    cProperty(const cProperty&) = delete;
    cProperty& operator=(const cProperty&) = delete;

    // Reads and parses the file once; later calls after a success return true
    // without touching the file.  Returns whether entries were loaded.
    bool loadFromFile(const char* propertyFile);
    // Replaces the entries with those of the zero-terminated `text`; true when
    // at least one entry was stored.
    bool parse(const char* text);

    // The value, or "" when name is null, empty or absent.
    std::string getProperty(const char* name) const;
    // The value as a decimal int (leading white space, optional sign, digits;
    // stops at the first non-digit); -1 when the name is absent.  A value that
    // does not convert returns -1, stores "invalid stoi argument" or "stoi
    // argument out of range" in *error (when given) and writes an ERROR line;
    // *error is cleared otherwise.
    int getPropertyInt(const char* name, std::string* error = nullptr) const;
    // True exactly when the value equals "TRUE" in any letter case.
    bool getPropertyBool(const char* name) const;

    // Longest line the parser takes (its line buffer holds 512 bytes).
    static const size_t kMaxLineContent = 511;
    // Whether the line "name = value" (value of `length` bytes) is read back
    // as exactly that entry: the value holds no line break or zero byte,
    // neither starts nor ends with a byte the parser trims (blanks, control
    // bytes), and the line fits the parser's line buffer.  Whoever writes a
    // properties file checks each inserted value with this.
    static bool fitsLine(const char* name, const char* value, size_t length);

    bool isLoaded() const { return loaded; }
    const std::string& getWorkingPath() const { return workingPath; }
    const std::map<std::string, std::string>& getProperties() const { return properties; }

private:
    const std::string* find(const char* name) const;

    std::map<std::string, std::string> properties;   // byte-wise, case-sensitive
    std::string workingPath;
    bool loaded = false;
};

#endif
