// Facades used from several threads: separate facades in parallel, one facade
// shared (each caller gets the signature of its own call), re-initialisation
// while others sign, the chain store loaded once by racing initialisations,
// and log lines that stay whole. Run under ThreadSanitizer with ORVANE_TSAN.
#include <atomic>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pkcs7.h>

#include "cCertChainList.h"
#include "sign_facade_support.h"

using namespace signtest;

namespace {

// The content a base64 signature verifies for (libcrypto's PKCS7_verify with
// the certificate the signature carries), or "<invalid>".
std::string verifiedContent(const std::string& b64) {
    cBytes der;
    if (!der.base64Decode(b64.c_str())) return "<invalid>";
    const unsigned char* p = der.getData();
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, der.getLength()));
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!p7 || !out || PKCS7_verify(p7.get(), nullptr, nullptr, nullptr, out.get(), PKCS7_NOVERIFY) != 1) {
        ERR_clear_error();
        return "<invalid>";
    }
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

struct Signed {
    int code;
    std::string text;
    std::string signature;
};

// Runs `count` threads of `body(threadIndex)` together and waits for them.
template <class Body>
void together(int count, Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < count) std::this_thread::yield();
            body(t);
        });
    }
    for (auto& th : threads) th.join();
}

class Threads : public FacadeTest {
protected:
    // A facade of its own, initialised from the usual properties.
    std::unique_ptr<TWCASign> initialisedFacade(const Props& p) {
        auto f = std::make_unique<TWCASign>();
        char out[512] = {};
        int len = sizeof out;
        EXPECT_EQ(f->MakeTWCASignPasswd(out, &len, p.write().c_str(), pki["password"].c_str()), 0);
        EXPECT_EQ(f->TWCASignInitial(p.write().c_str(), out), 0);
        return f;
    }
    static void expectAllVerified(const std::vector<std::vector<Signed>>& results, size_t perThread) {
        for (const auto& mine : results) {
            ASSERT_EQ(mine.size(), perThread);
            for (const Signed& s : mine) {
                EXPECT_EQ(s.code, 0) << s.text;
                EXPECT_EQ(verifiedContent(s.signature), s.text);
            }
        }
    }
};

constexpr int kThreads = 4;
constexpr int kPerThread = 12;

TEST_F(Threads, SeparateFacadesSignInParallel) {
    Props p = props();
    std::vector<std::unique_ptr<TWCASign>> facades;
    for (int t = 0; t < kThreads; ++t) facades.push_back(initialisedFacade(p));
    std::vector<std::vector<Signed>> results(kThreads);
    together(kThreads, [&](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            Signed s{0, "facade " + std::to_string(t) + " text " + std::to_string(i), ""};
            s.code = facades[t]->SignPkcs7(s.text.c_str(), "BIG5", s.signature);
            results[t].push_back(std::move(s));
        }
    });
    expectAllVerified(results, kPerThread);
}

TEST_F(Threads, OneFacadeHandsEachCallerItsOwnSignature) {
    Props p = props();
    ASSERT_EQ(initialise(p), 0);
    std::vector<std::vector<Signed>> results(kThreads);
    together(kThreads, [&](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            Signed s{0, "caller " + std::to_string(t) + " text " + std::to_string(i), ""};
            if (i % 2) {
                s.code = sign.SignPkcs7(s.text.c_str(), "BIG5", s.signature);
            } else {
                s.code = sign.SignPkcs7Bin(reinterpret_cast<const unsigned char*>(s.text.data()),
                                           static_cast<int>(s.text.size()), s.signature);
            }
            results[t].push_back(std::move(s));
        }
    });
    expectAllVerified(results, kPerThread);
    // A failing call hands out nothing, also under contention.
    std::string none = "stale";
    EXPECT_EQ(sign.SignPkcs7("", "BIG5", none), 5005);
    EXPECT_TRUE(none.empty());
}

TEST_F(Threads, ReinitialisationWhileOthersSign) {
    Props p = props();
    p.set("PKCS7.addCert", "2");  // the chain comes from the store on every signature
    ASSERT_EQ(initialise(p), 0);
    const std::string enced = protect(p, pki["password"]);
    Props legacy = props("pfx_legacy");
    legacy.set("PKCS7.addCert", "2");
    std::atomic<bool> stop{false};
    std::atomic<int> reinitialised{0};
    std::vector<std::vector<Signed>> results(kThreads);
    together(kThreads + 1, [&](int t) {
        if (t == kThreads) {
            // Alternates two credentials on the facade the others sign with.
            for (int i = 0; i < 6; ++i) {
                const Props& which = i % 2 ? legacy : p;
                if (sign.TWCASignInitial(which.write().c_str(), enced.c_str()) == 0) ++reinitialised;
                EXPECT_TRUE(sign.isInitialised());
            }
            stop = true;
            return;
        }
        for (int i = 0; i < kPerThread; ++i) {
            Signed s{0, "during " + std::to_string(t) + "/" + std::to_string(i), ""};
            s.code = sign.SignPkcs7(s.text.c_str(), "BIG5", s.signature);
            results[t].push_back(std::move(s));
        }
    });
    EXPECT_EQ(reinitialised.load(), 6);
    expectAllVerified(results, kPerThread);
}

TEST_F(Threads, RacingInitialisationsLoadTheChainStoreOnce) {
    ASSERT_TRUE(cCertChainList::instance().isEmpty());
    Props p = props();
    p.set("PKCS7.addCert", "2");
    const std::string file = p.write();
    LogCapture log;
    std::vector<std::unique_ptr<TWCASign>> facades(kThreads);
    for (auto& f : facades) f = std::make_unique<TWCASign>();
    std::vector<std::vector<Signed>> results(kThreads);
    together(kThreads, [&](int t) {
        char out[512] = {};
        int len = sizeof out;
        Signed s{facades[t]->MakeTWCASignPasswd(out, &len, file.c_str(), pki["password"].c_str()),
                 "first of " + std::to_string(t), ""};
        if (s.code == 0) s.code = facades[t]->TWCASignInitial(file.c_str(), out);
        if (s.code == 0) s.code = facades[t]->SignPkcs7(s.text.c_str(), "BIG5", s.signature);
        results[t].push_back(std::move(s));
    });
    expectAllVerified(results, 1);
    EXPECT_EQ(cCertChainList::instance().size(), 1u);
    size_t loads = 0;
    for (const auto& body : log.bodies("INFO"))
        if (body == "begin cCertChainList::loadCertChainFiles()") ++loads;
    EXPECT_EQ(loads, 1u);
}

TEST_F(Threads, LogLinesStayWhole) {
    // DEBUG: every signature writes its converted text and its DER as dumps.
    Props p = props();
    std::vector<std::unique_ptr<TWCASign>> facades;
    for (int t = 0; t < kThreads; ++t) facades.push_back(initialisedFacade(p));
    LogCapture log;
    together(kThreads, [&](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            const std::string text = std::string(static_cast<size_t>(i * 5 + 1), static_cast<char>('a' + t));
            std::string signature;
            EXPECT_EQ(facades[t]->SignPkcs7(text.c_str(), "BIG5", signature), 0);
        }
    });
    const std::regex header(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \(PID=\d+\) (DEBUG| INFO| WARN|ERROR|PARAM) .*)");
    const std::regex dumpHead(R"(.*\(len=(\d+), 0x[0-9A-F]+\) = $)");
    const std::regex row(R"(^ 0x([0-9a-f]{8}) -(( [0-9a-f]{2})+) *: .*)");
    const std::vector<std::string> lines = log.lines();
    size_t ends = 0;
    for (size_t i = 0; i < lines.size();) {
        const std::string& line = lines[i++];
        ASSERT_TRUE(std::regex_match(line, header)) << i << ": " << line;
        if (line.find("end TWCASign::SignPkcs7Bin() = 0x00000000(0)") != std::string::npos) ++ends;
        std::smatch m;
        if (!std::regex_match(line, m, dumpHead)) continue;
        // The rows of a dump follow its first line at once, complete.
        const int length = std::stoi(m[1]);
        for (int offset = 0; offset < length; offset += 16) {
            ASSERT_LT(i, lines.size());
            std::smatch r;
            ASSERT_TRUE(std::regex_match(lines[i], r, row)) << i << ": " << lines[i];
            EXPECT_EQ(std::stoi(r[1].str(), nullptr, 16), offset);
            EXPECT_EQ(static_cast<int>(r[2].length() / 3), std::min(16, length - offset));
            ++i;
        }
    }
    EXPECT_EQ(ends, static_cast<size_t>(kThreads * kPerThread));
}

}  // namespace
