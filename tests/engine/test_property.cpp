// The properties file: parsing, loading, and the three lookups with their log
// lines.
#include <algorithm>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "cLog.h"
#include "cProperty.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

using Entries = std::map<std::string, std::string>;

Entries parsed(const std::string& text, bool* result = nullptr) {
    cProperty props;
    const bool r = props.parse(text.c_str());
    if (result) *result = r;
    return props.getProperties();
}

// Restores the process-wide threshold a test changes.
class LevelGuard {
public:
    explicit LevelGuard(const char* level) : saved_(cLog::instance().getLevel()) { cLog::instance().setLevel(level); }
    ~LevelGuard() {
        const char* name = saved_ <= 10 ? "DEBUG" : saved_ <= 20 ? "INFO" : saved_ <= 30 ? "WARN" : saved_ <= 40 ? "ERROR" : "OFF";
        cLog::instance().setLevel(name);
    }

private:
    int saved_;
};

}  // namespace

struct ParseCase {
    const char* name;
    std::string text;
    Entries entries;
};

class PropertyParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PropertyParse, Entries) {
    bool result = false;
    EXPECT_EQ(parsed(GetParam().text, &result), GetParam().entries);
    EXPECT_EQ(result, !GetParam().entries.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, PropertyParse,
    ::testing::Values(
        ParseCase{"trimsSpacesTabsAndCr", "  LOG.level\t=\tDEBUG  \r\n", {{"LOG.level", "DEBUG"}}},
        ParseCase{"trimsControlBytesAndDel", "\x01\x7fname\x1f=\x7f v \x02", {{"name", "v"}}},
        ParseCase{"keepsHighBytes", "\xa4\xa4=\xa4\xe5\xa0", {{"\xa4\xa4", "\xa4\xe5\xa0"}}},
        ParseCase{"innerSpacesStay", "a b = c d", {{"a b", "c d"}}},
        ParseCase{"commentsInFirstByteOnly", "#a=1\n;b=2\n #c=3\n ;d=4", {{"#c", "3"}, {";d", "4"}}},
        ParseCase{"valueHoldsEquals", "P7B.path = a=b", {{"P7B.path", "a=b"}}},
        ParseCase{"emptyValue", "PFX.pswd =\nx=", {{"PFX.pswd", ""}, {"x", ""}}},
        ParseCase{"emptyName", " = v", {{"", "v"}}},
        ParseCase{"linesWithoutEquals", "no equals\n\n\r\nk=v\n", {{"k", "v"}}},
        ParseCase{"caseSensitiveNames", "pkcs7.digest=SHA1\nPKCS7.digest=SHA256",
                  {{"pkcs7.digest", "SHA1"}, {"PKCS7.digest", "SHA256"}}},
        ParseCase{"lastDefinitionWins", "PFX.file=a.pfx\nPFX.file = b.pfx", {{"PFX.file", "b.pfx"}}},
        ParseCase{"crlfFile", "a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
        ParseCase{"noFinalLineFeed", "a=1", {{"a", "1"}}},
        ParseCase{"line511Kept", "a=1\n" + std::string(509, 'k') + "=v\nb=2",
                  {{"a", "1"}, {std::string(509, 'k'), "v"}, {"b", "2"}}},
        ParseCase{"line512EndsParse", "a=1\n" + std::string(510, 'k') + "=v\nb=2", {{"a", "1"}}},
        ParseCase{"line600EndsParse", "a=1\nb=2\n" + std::string(600, 'x') + "\nc=3", {{"a", "1"}, {"b", "2"}}},
        ParseCase{"longCommentAlsoEndsParse", "a=1\n#" + std::string(600, 'x') + "\nc=3", {{"a", "1"}}},
        ParseCase{"crCountsTowardTheLimit", std::string(510, 'k') + "=\r\nb=2", {}},
        ParseCase{"nothing", "", {}}, ParseCase{"onlyComments", "# a=1\n;b=2\n", {}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(PropertyParse, NamesSortByteWiseUnsignedPrefixFirst) {
    const Entries e = parsed("b=1\n\xa4=2\nab=3\na=4\nB=5\n");
    std::vector<std::string> order;
    for (const auto& kv : e) order.push_back(kv.first);
    EXPECT_EQ(order, (std::vector<std::string>{"B", "a", "ab", "b", "\xa4"}));
}

TEST(PropertyParse, ReplacesEarlierEntries) {
    cProperty props;
    ASSERT_TRUE(props.parse("a=1\nb=2"));
    ASSERT_TRUE(props.parse("c=3"));
    EXPECT_EQ(props.getProperties(), (Entries{{"c", "3"}}));
    EXPECT_FALSE(props.parse(nullptr));
    EXPECT_TRUE(props.getProperties().empty());
}

TEST(PropertyParse, LogLines) {
    LogCapture capture;
    cProperty props;
    ASSERT_TRUE(props.parse("PFX.file=a.pfx\n# x=y\nPFX.file=b.pfx\nk=v"));
    EXPECT_EQ(capture.bodies("WARN"), std::vector<std::string>{"Erase duplicate MAP Name = PFX.file"});
    EXPECT_EQ(capture.bodies("DEBUG"),
              (std::vector<std::string>{"Insert MAP Name = PFX.file", "Insert MAP Value = a.pfx",
                                        "Insert MAP Name = PFX.file", "Insert MAP Value = b.pfx",
                                        "Insert MAP Name = k", "Insert MAP Value = v",
                                        "properties.size() = 0x00000002(2)", "end cProperty::parse() return = true"}));
}

TEST(PropertyParse, PasswordValuesNeverReachTheLog) {
    LevelGuard level("DEBUG");
    LogCapture capture;
    cProperty props;
    ASSERT_TRUE(props.parse("PFX.pswd = s3cret\nPFX.pswdB64 = c2VjcmV0\n"));
    EXPECT_EQ(props.getProperty("PFX.pswd"), "s3cret");
    EXPECT_EQ(props.getProperty("PFX.pswdB64"), "c2VjcmV0");
    for (const std::string& line : capture.lines()) {
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
        EXPECT_EQ(line.find("c2VjcmV0"), std::string::npos) << line;
    }
    const auto debug = capture.bodies("DEBUG");
    EXPECT_EQ(std::count(debug.begin(), debug.end(), "Insert MAP Value = ********"), 2);
}

// A value that fitsLine accepts is read back as written; one it refuses
// would not be (cut, trimmed, split into further lines, or ending the parse).
struct FitCase {
    const char* name;
    std::string value;
    bool fits;
};

class PropertyFits : public ::testing::TestWithParam<FitCase> {};

TEST_P(PropertyFits, AcceptsExactlyWhatIsReadBack) {
    const FitCase& c = GetParam();
    EXPECT_EQ(cProperty::fitsLine("PFX.path", c.value.data(), c.value.size()), c.fits);
    cProperty props;
    props.parse(("PFX.path = " + c.value + "\nPFX.file = a.pfx\n").c_str());
    const bool readBack = props.getProperties().size() == 2 && props.getProperty("PFX.path") == c.value;
    if (c.fits) {
        EXPECT_TRUE(readBack);
    } else if (c.value.find('\r') == std::string::npos) {
        EXPECT_FALSE(readBack);  // (a carriage return inside is refused for other readers' sake)
    }
}

INSTANTIATE_TEST_SUITE_P(Property, PropertyFits,
                         ::testing::Values(FitCase{"Plain", "/home/user/certs", true},
                                           FitCase{"Empty", "", true},
                                           FitCase{"Big5Bytes", "/\xa4\xa4\xa4\xe5/x", true},
                                           FitCase{"InnerBlank", "/a b/c", true},
                                           FitCase{"LongestThatFits", std::string(500, 'x'), true},
                                           FitCase{"OneByteTooLong", std::string(501, 'x'), false},
                                           FitCase{"LineFeed", "/a\nPFX.file = b.pfx", false},
                                           FitCase{"CarriageReturn", "/a\rb", false},
                                           FitCase{"ZeroByte", std::string("/a\0b", 4), false},
                                           FitCase{"LeadingBlank", " /a", false},
                                           FitCase{"TrailingTab", "/a\t", false},
                                           FitCase{"TrailingDel", "/a\x7f", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyParse, EmptyTextWritesOnlyTheEndLine) {
    LogCapture capture;
    cProperty props;
    EXPECT_FALSE(props.parse(""));
    EXPECT_EQ(capture.bodies("DEBUG"), std::vector<std::string>{"end cProperty::parse() return = false"});
}

TEST(PropertyParse, CallerTestsTheLevel) {
    LevelGuard level("WARN");
    LogCapture capture;
    cProperty props;
    ASSERT_TRUE(props.parse("a=1\na=2"));
    EXPECT_EQ(props.getProperty("a"), "2");
    EXPECT_EQ(props.getPropertyInt("a"), 2);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(afterHeader(lines[0]), "Erase duplicate MAP Name = a");
    {
        LevelGuard off("ERROR");
        LogCapture quiet;
        ASSERT_TRUE(props.parse("a=1\na=2"));
        EXPECT_TRUE(quiet.lines().empty());
    }
}

class PropertyLookup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(props.parse("PFX.path = /pfx\n"
                                "PKCS7.addCert = 2\n"
                                "spaced =   7x\n"
                                "neg = -42\n"
                                "hex = 0x10\n"
                                "letters = abc\n"
                                "empty =\n"
                                "big = 2147483648\n"
                                "small = -2147483649\n"
                                "max = 2147483647\n"
                                "huge = 99999999999999999999999\n"
                                "t1 = TrUe\n"
                                "t2 = true \n"
                                "f1 = 1\n"
                                "f2 = yes\n"
                                "f3 = truex\n"
                                "pct%s = 100%\n"));
    }
    cProperty props;
};

TEST_F(PropertyLookup, TextWithItsDebugLine) {
    LogCapture capture;
    EXPECT_EQ(props.getProperty("PFX.path"), "/pfx");
    EXPECT_EQ(props.getProperty("pct%s"), "100%");
    EXPECT_EQ(props.getProperty("pfx.path"), "");   // names are case-sensitive
    EXPECT_EQ(props.getProperty(""), "");
    EXPECT_EQ(props.getProperty(nullptr), "");
    EXPECT_EQ(props.getProperty("empty"), "");
    EXPECT_EQ(capture.bodies("DEBUG"),
              (std::vector<std::string>{"cProperty::getProperty() : PFX.path = /pfx",
                                        "cProperty::getProperty() : pct%s = 100%",
                                        "cProperty::getProperty() : empty = "}));
}

struct IntCase {
    const char* name;
    int value;
    const char* error;   // "" when the conversion succeeds
};

class PropertyInt : public PropertyLookup, public ::testing::WithParamInterface<IntCase> {};

TEST_P(PropertyInt, Converts) {
    LogCapture capture;
    std::string error = "stale";
    EXPECT_EQ(props.getPropertyInt(GetParam().name, &error), GetParam().value);
    EXPECT_EQ(error, GetParam().error);
    const std::string prefix = std::string("cProperty::getPropertyInt() : ") + GetParam().name;
    if (std::string(GetParam().error).empty()) {
        char hex[32];
        std::snprintf(hex, sizeof hex, " = 0x%08X(%d)", static_cast<unsigned>(GetParam().value), GetParam().value);
        EXPECT_EQ(capture.bodies("DEBUG"), std::vector<std::string>{prefix + hex});
        EXPECT_TRUE(capture.bodies("ERROR").empty());
    } else {
        EXPECT_TRUE(capture.bodies("DEBUG").empty());
        EXPECT_EQ(capture.bodies("ERROR"), std::vector<std::string>{prefix + " = " + GetParam().error});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, PropertyInt,
    ::testing::Values(IntCase{"PKCS7.addCert", 2, ""}, IntCase{"spaced", 7, ""}, IntCase{"neg", -42, ""},
                      IntCase{"hex", 0, ""}, IntCase{"max", 2147483647, ""},
                      IntCase{"letters", -1, "invalid stoi argument"}, IntCase{"empty", -1, "invalid stoi argument"},
                      IntCase{"big", -1, "stoi argument out of range"},
                      IntCase{"small", -1, "stoi argument out of range"},
                      IntCase{"huge", -1, "stoi argument out of range"}),
    [](const ::testing::TestParamInfo<IntCase>& info) {
        std::string n;
        for (const char* p = info.param.name; *p; ++p) n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return n;
    });

TEST_F(PropertyLookup, AbsentIntIsMinusOneWithoutALine) {
    LogCapture capture;
    std::string error = "stale";
    EXPECT_EQ(props.getPropertyInt("PKCS7.addcert", &error), -1);
    EXPECT_EQ(error, "");
    EXPECT_EQ(props.getPropertyInt(nullptr), -1);
    EXPECT_EQ(props.getPropertyInt("letters"), -1);   // no error slot: still no throw
    EXPECT_EQ(capture.bodies("DEBUG").size(), 0u);
}

struct BoolCase {
    const char* name;
    bool value;
};

class PropertyBool : public PropertyLookup, public ::testing::WithParamInterface<BoolCase> {};

TEST_P(PropertyBool, TrueOnlyForTrueInAnyCase) {
    LogCapture capture;
    EXPECT_EQ(props.getPropertyBool(GetParam().name), GetParam().value);
    EXPECT_EQ(capture.bodies("DEBUG"),
              std::vector<std::string>{std::string("cProperty::getProperty() : ") + GetParam().name +
                                       (GetParam().value ? " = true" : " = false")});
}

INSTANTIATE_TEST_SUITE_P(Values, PropertyBool,
                         ::testing::Values(BoolCase{"t1", true}, BoolCase{"t2", true}, BoolCase{"f1", false},
                                           BoolCase{"f2", false}, BoolCase{"f3", false}, BoolCase{"empty", false}),
                         [](const ::testing::TestParamInfo<BoolCase>& info) { return std::string(info.param.name); });

TEST_F(PropertyLookup, AbsentBoolIsFalseWithoutALine) {
    LogCapture capture;
    EXPECT_FALSE(props.getPropertyBool("T1"));
    EXPECT_FALSE(props.getPropertyBool(""));
    EXPECT_FALSE(props.getPropertyBool(nullptr));
    EXPECT_TRUE(capture.lines().empty());
}

class PropertyLoad : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(PropertyLoad, LoadsOnceAndLogs) {
    const std::string path = dir / "p7Sign.properties";
    writeAll(path, "LOG.level = INFO\r\nPFX.file = a.pfx\r\n");
    cProperty props;
    LogCapture capture;
    ASSERT_TRUE(props.loadFromFile(path.c_str()));
    EXPECT_TRUE(props.isLoaded());
    EXPECT_EQ(props.getProperty("PFX.file"), "a.pfx");
    char cwd[1024];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(props.getWorkingPath(), cwd);
    EXPECT_EQ(capture.bodies("PARAM"), std::vector<std::string>{"propertyFile = " + path});
    const auto debug = capture.bodies("DEBUG");
    ASSERT_FALSE(debug.empty());
    EXPECT_EQ(debug.back(), "cProperty::getProperty() : PFX.file = a.pfx");
    EXPECT_EQ(debug[debug.size() - 2], "end cProperty::loadFromFile() return = true");

    // A loaded object never reads again, even when the file changes or goes.
    writeAll(path, "PFX.file = b.pfx\n");
    EXPECT_TRUE(props.loadFromFile(path.c_str()));
    ::unlink(path.c_str());
    EXPECT_TRUE(props.loadFromFile(path.c_str()));
    EXPECT_TRUE(props.loadFromFile(nullptr));
    EXPECT_EQ(props.getProperty("PFX.file"), "a.pfx");
}

TEST_F(PropertyLoad, RelativeNameIsRelativeToTheWorkingFolder) {
    writeAll(dir / "rel.properties", "k=v\n");
    char cwd[1024];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    cProperty props;
    const bool ok = props.loadFromFile("rel.properties");
    const std::string working = props.getWorkingPath();
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(working, dir.path());
    EXPECT_EQ(props.getProperty("k"), "v");
}

TEST_F(PropertyLoad, FailuresAndRetry) {
    const std::string path = dir / "later.properties";
    cProperty props;
    LogCapture capture;
    EXPECT_FALSE(props.loadFromFile(""));
    EXPECT_FALSE(props.loadFromFile(nullptr));
    EXPECT_FALSE(props.loadFromFile(path.c_str()));    // missing
    writeAll(path, "");
    EXPECT_FALSE(props.loadFromFile(path.c_str()));    // empty
    writeAll(path, "# only a comment\n");
    EXPECT_FALSE(props.loadFromFile(path.c_str()));    // no entry
    EXPECT_FALSE(props.isLoaded());
    EXPECT_EQ(capture.bodies("ERROR"),
              (std::vector<std::string>{"propertyFile ERROR! = ", "propertyFile ERROR! = ", "Open file = " + path,
                                        "loadFromFile() = " + path}));
    writeAll(path, "k = v\n");
    EXPECT_TRUE(props.loadFromFile(path.c_str()));     // a failed load tries again
    EXPECT_EQ(props.getProperty("k"), "v");
}
