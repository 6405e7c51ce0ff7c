// The properties parser: any bytes as a properties file, then the lookups the
// engine makes.  Checks the parser's promises: no name is stored twice, names
// and values carry no leading or trailing blank or control byte, and the
// integer and boolean lookups agree with the text value.
#include <cstdint>
#include <cstring>
#include <string>

#include "cChars.h"
#include "cProperty.h"
#include "fuzz_support.h"

using fuzzsupport::text;

namespace {

bool trimmed(const std::string& s) {
    if (s.empty()) return true;
    auto edge = [](unsigned char c) { return c <= 0x20 || c == 0x7F; };
    return !edge(static_cast<unsigned char>(s.front())) && !edge(static_cast<unsigned char>(s.back()));
}

const char* const kKeys[] = {
    "LOG.level", "LOG.path", "LOG.file", "PKCS7.digest", "PKCS7.addCert", "PKCS7.addTimestamp",
    "PKCS7.addPlainText", "PFX.signerFilter", "PFX.path", "PFX.file", "PFX.pswd", "PFX.pswdB64",
    "P7B.path", "P7B0.SKI", "P7B0.name", "CRL.path", "P7B0.crlFile0", "", nullptr,
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = text(data, size);
    cProperty props;
    const bool parsed = props.parse(input.c_str());
    FUZZ_CHECK(parsed == !props.getProperties().empty());
    for (const auto& entry : props.getProperties()) {
        FUZZ_CHECK(trimmed(entry.first));
        FUZZ_CHECK(trimmed(entry.second));
        FUZZ_CHECK(entry.first.find('\n') == std::string::npos);
        FUZZ_CHECK(entry.first.find('=') == std::string::npos);
        FUZZ_CHECK(entry.first.size() + entry.second.size() < 512);
    }
    for (const char* key : kKeys) {
        const std::string value = props.getProperty(key);
        std::string error;
        const int number = props.getPropertyInt(key, &error);
        const bool flag = props.getPropertyBool(key);
        FUZZ_CHECK(!flag || cChars::equalsIgnoreCase(value.c_str(), "TRUE"));
        if (!error.empty()) FUZZ_CHECK(number == -1);
    }
    // Every stored name is found again, with its value.
    for (const auto& entry : props.getProperties()) {
        if (entry.first.empty()) continue;
        FUZZ_CHECK(props.getProperty(entry.first.c_str()) == entry.second);
        std::string error;
        (void)props.getPropertyInt(entry.first.c_str(), &error);
        (void)props.getPropertyBool(entry.first.c_str());
    }
    // A second parse of the same text gives the same map.
    cProperty again;
    again.parse(input.c_str());
    FUZZ_CHECK(again.getProperties() == props.getProperties());
    return 0;
}
