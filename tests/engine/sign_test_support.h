// Helpers of the credential, chain-store and signer tests: the test PKI made
// by tests/fixtures/make_pki.py, properties files, reading back the
// process-wide log, and checking signatures with the openssl command.
#ifndef ORVANE_TESTS_SIGN_TEST_SUPPORT_H
#define ORVANE_TESTS_SIGN_TEST_SUPPORT_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/err.h>

#include "cLog.h"
#include "engine_test_support.h"

namespace signtest {

using enginetest::readAll;
using enginetest::runCommand;
using enginetest::TempDir;
using enginetest::writeAll;

inline std::string shellQuote(const std::string& path) {
    std::string out = "'";
    for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The test PKI: the folder named by $ORVANE_TEST_PKI (the CTest fixture makes
// it once per run), else one made for this process.
class Pki {
public:
    static const Pki& get() {
        static const Pki pki;
        return pki;
    }
    const std::string& operator[](const std::string& key) const {
        auto it = values_.find(key);
        if (it == values_.end()) {
            ADD_FAILURE() << "test PKI has no " << key;
            static const std::string none;
            return none;
        }
        return it->second;
    }
    // Folder and file name of a path, as PFX.path and PFX.file take them.
    static std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }
    static std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

private:
    Pki() {
        std::string folder;
        if (const char* env = std::getenv("ORVANE_TEST_PKI")) folder = env;
        if (folder.empty() || readAll(folder + "/manifest.txt").empty()) {
            own_ = new TempDir();
            folder = own_->path() + "/pki";
            int status = 0;
            runCommand(std::string(ENGINE_TEST_PYTHON) + " " + shellQuote(ENGINE_PKI_SCRIPT) + " " + shellQuote(folder), &status);
            EXPECT_EQ(status, 0) << "making the test PKI failed";
        }
        std::istringstream lines(readAll(folder + "/manifest.txt"));
        std::string line;
        while (std::getline(lines, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) values_[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    std::map<std::string, std::string> values_;
    TempDir* own_ = nullptr;  // kept for the life of the process
};

// The BIG5 bytes of UTF-8 text, as the engine writes its messages.
inline std::string big5(const char* utf8) { return enginetest::utf8Big5(utf8); }

// What the process-wide log received since construction, with lookups.
class LogCapture : public enginetest::LogCapture {
public:
    // Whether a line of `tag` reads exactly `body` (message, or message = value).
    bool has(const std::string& tag, const std::string& body) const {
        for (const auto& b : bodies(tag))
            if (b == body) return true;
        return false;
    }
    bool hasPrefix(const std::string& tag, const std::string& prefix) const {
        for (const auto& b : bodies(tag))
            if (b.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    std::string dump(const std::string& tag) const {
        std::string all;
        for (const auto& b : bodies(tag)) all += b + "\n";
        return all;
    }
};

// Base of every engine test: OpenSSL's error queue must be empty after each.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        enginetest::ProcessLog::folder();
        ERR_clear_error();
    }
    void TearDown() override {
        char text[256] = "";
        const unsigned long e = ERR_peek_error();
        if (e != 0) ERR_error_string_n(e, text, sizeof text);
        EXPECT_EQ(e, 0UL) << "OpenSSL error queue not empty: " << text;
        ERR_clear_error();
    }
};

// A properties file built line by line.
class Props {
public:
    explicit Props(const std::string& path) : path_(path) {}
    Props& set(const std::string& name, const std::string& value) {
        text_ += name + " = " + value + "\n";
        return *this;
    }
    Props& raw(const std::string& line) {
        text_ += line;
        return *this;
    }
    // Writes the file and returns its name.
    const std::string& write() const {
        writeAll(path_, text_);
        return path_;
    }
    const char* c_str() const { return write().c_str(); }

private:
    std::string path_;
    std::string text_;
};

// What `openssl` says of a base64 DER PKCS#7 signature.
struct Verified {
    bool ok = false;            // openssl cms -verify accepted it against the test root
    std::string content;        // the content it verified
    std::string digest;         // "sha1", "sha256", ...
    bool detached = false;      // no encapsulated content
    std::vector<std::string> certificates;   // embedded certificates' subjects, in order
    bool contentTypeAttr = false, signingTimeAttr = false, messageDigestAttr = false;
    std::string errors;
};

inline std::string base64ToFile(const std::string& b64, const std::string& path) {
    writeAll(path + ".b64", b64 + "\n");
    int status = 0;
    runCommand("openssl base64 -d -A -in " + shellQuote(path + ".b64") + " -out " + shellQuote(path), &status);
    return path;
}

// Verifies `b64` with openssl cms against the test root. `detachedContent` is
// passed to the verifier when the signature does not carry its content.
// `options` go to the verifier as they are (for instance "-no_check_time" for
// a certificate outside its validity period).
inline Verified verifySignature(const std::string& b64, const std::string& detachedContent = std::string(),
                                const std::string& options = std::string()) {
    const Pki& pki = Pki::get();
    TempDir dir;
    Verified v;
    const std::string der = base64ToFile(b64, dir / "sig.der");
    // Where the signer's certificate is found when the message omits it.
    const std::string untrusted = pki["user_pem"];

    const std::string printed = runCommand("openssl cms -cmsout -print -inform DER -in " + shellQuote(der) + " 2>&1");
    const auto signerInfos = printed.find("signerInfos:");
    const std::string info = signerInfos == std::string::npos ? std::string() : printed.substr(signerInfos);
    if (info.find("algorithm: sha256 (") != std::string::npos) v.digest = "sha256";
    else if (info.find("algorithm: sha1 (") != std::string::npos) v.digest = "sha1";
    v.detached = printed.find("eContent: <ABSENT>") != std::string::npos;
    v.contentTypeAttr = info.find("contentType (1.2.840.113549.1.9.3)") != std::string::npos;
    v.signingTimeAttr = info.find("signingTime (1.2.840.113549.1.9.5)") != std::string::npos;
    v.messageDigestAttr = info.find("messageDigest (1.2.840.113549.1.9.4)") != std::string::npos;

    std::istringstream certs(runCommand("openssl pkcs7 -inform DER -print_certs -in " + shellQuote(der) + " 2>/dev/null"));
    std::string line;
    while (std::getline(certs, line))
        if (line.compare(0, 8, "subject=") == 0) v.certificates.push_back(line.substr(8));

    // openssl cms builds the signer's chain from the certificates in the
    // message only: when it carries no intermediate CA, that CA is trusted
    // beside the root.
    const bool carriesIntermediate = v.certificates.size() >= 2;
    std::string command = "openssl cms -verify -binary -inform DER -in " + shellQuote(der) + " -CAfile " +
                          shellQuote(pki[carriesIntermediate ? "root_pem" : "chain_pem"]) + " -certfile " +
                          shellQuote(untrusted) + " -out " + shellQuote(dir / "out.bin") + " " + options;
    if (v.detached) {
        writeAll(dir / "content.bin", detachedContent);
        command += " -content " + shellQuote(dir / "content.bin");
    }
    int status = -1;
    v.errors = runCommand(command + " 2>&1", &status);
    v.ok = status == 0;
    v.content = readAll(dir / "out.bin");
    return v;
}

}  // namespace signtest

#endif
