#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "pty_helper.h"

namespace hydrix::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "\\Software\\Velmar Sensors\\Tidewise\\Settings";

const std::string kHeader =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n";

const std::string kSection = "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] 1700000000\n#time=1da0b0c0d0e0f00\n";

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void WriteUserReg(const std::string& text) { WriteFile(prefix_.Path() / "user.reg", text); }
    // A file with the settings section holding the given value lines.
    void WriteSettings(const std::string& lines) { WriteUserReg(kHeader + kSection + lines); }

    test::TempWinePrefix prefix_;
    SettingsStore store_;  // created after the prefix, so it reads the temporary one
};

TEST_F(SettingsStoreTest, ReadsEveryValueFormWineWrites) {
    WriteUserReg(kHeader +
                 "[Software\\\\Other] 1700000000\n"
                 "\"ADCP COM Port\"=\"COM99\"\n"
                 "\n" +
                 kSection +
                 "@=\"default text\"\n"
                 "\"ADCP COM Port\"=\"COM3\"\n"
                 "\"ADCP Baud Rate\"=str(2):\"115200\"\n"
                 "\"Use Software Break\"=dword:00000001\n"
                 "\"Current Output Directory\"=hex(1):43,00,3a,00,5c,00,00,00\n"
                 "\"Blob\"=hex:01,02,ff,\\\n"
                 "  10,20\n"
                 "\"Multi\"=str(7):\"a\\0b\\0\"\n"
                 "\"Big\"=hex(b):01,00,00,00,00,00,00,00\n"
                 "\"Empty\"=\"\"\n"
                 "\n"
                 "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings\\\\Sub] 1700000000\n"
                 "\"Current Filename Prefix\"=\"sub\"\n");
    EXPECT_EQ(store_.Prefix(), prefix_.Path());
    ASSERT_TRUE(store_.OpenKey(kKey)) << store_.Error();
    EXPECT_TRUE(store_.Diagnostics().empty());

    struct Case {
        const char* name;
        uint32_t type;
        const char* text;
    };
    const Case cases[] = {
        {"", kRegSz, "default text"},
        {"ADCP COM Port", kRegSz, "COM3"},
        {"adcp baud rate", kRegExpandSz, "115200"},
        {"Use Software Break", kRegDword, ""},
        {"Current Output Directory", kRegSz, "C:\\"},
        {"Blob", kRegBinary, ""},
        {"Multi", kRegMultiSz, ""},
        {"Big", kRegQword, ""},
        {"Empty", kRegSz, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(store_.ValueExists(c.name));
        auto value = store_.ReadValue(c.name);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->text, c.text);
        EXPECT_EQ(value->IsString(), c.type == kRegSz || c.type == kRegExpandSz);
    }
    EXPECT_FALSE(store_.ValueExists("Current Filename Prefix")) << "a subkey's value is not the key's";

    RegFile file;
    ASSERT_EQ(file.Load((prefix_.Path() / "user.reg").string()), 0);
    const RegKey* key = file.FindKey("software\\velmar sensors\\tidewise\\settings\\");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Find("Blob")->data, (std::vector<uint8_t>{1, 2, 0xff, 0x10, 0x20}));
    EXPECT_EQ(key->Find("Use Software Break")->data, (std::vector<uint8_t>{1, 0, 0, 0}));
}

TEST_F(SettingsStoreTest, DecodesEscapesAsWineWritesThem) {
    struct Case {
        const char* escaped;  // as it stands between the quotes in the file
        const char* text;     // UTF-8
    };
    const Case cases[] = {
        {R"(C:\\Data\\Out)", "C:\\Data\\Out"},
        {R"(say \"hi\")", "say \"hi\""},
        {R"(a\nb\rc\td)", "a\nb\rc\td"},
        {R"(\a\b\e\f\v)", "\a\b\x1b\f\v"},
        {R"(ab\0cd)", "ab"},
        {R"(\033[0m)", "\x1b[0m"},
        {R"(\0101)", "\b1"},
        {R"(caf\xe9)", "caf\xc3\xa9"},
        {R"(\x00e9t\x00e9)", "\xc3\xa9t\xc3\xa9"},
        {R"(\x263a)", "\xe2\x98\xba"},
        {R"(\xd83d\xde00)", "\xf0\x9f\x98\x80"},
        {R"(\xd83d!)", "\xef\xbf\xbd!"},
        {R"(\[x\])", "[x]"},
        {"Gr\xc3\xbc\xc3\x9f"
         "e",
         "Gr\xc3\xbc\xc3\x9f"
         "e"},
        {"\xff raw", "\xc3\xbf raw"},
    };
    std::string lines;
    for (size_t i = 0; i < std::size(cases); ++i) {
        lines += "\"v" + std::to_string(i) + "\"=\"" + cases[i].escaped + "\"\n";
    }
    lines += "\"Tab\\tName\\\"\"=\"named\"\n";
    WriteSettings(lines);
    ASSERT_TRUE(store_.OpenKey(kKey)) << store_.Error();
    EXPECT_TRUE(store_.Diagnostics().empty());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].escaped);
        auto value = store_.ReadValue("v" + std::to_string(i));
        ASSERT_TRUE(value);
        EXPECT_EQ(value->text, cases[i].text);
    }
    ASSERT_TRUE(store_.ReadValue("Tab\tName\""));
    EXPECT_EQ(store_.ReadValue("Tab\tName\"")->text, "named");
}

TEST_F(SettingsStoreTest, MissingFileKeyOrValueReadAsMissing) {
    EXPECT_FALSE(store_.OpenKey(kKey)) << "no user.reg yet";
    EXPECT_NE(store_.Error().find("user.reg"), std::string::npos);
    EXPECT_FALSE(store_.KeyOpen());
    EXPECT_FALSE(store_.ValueExists("ADCP COM Port"));
    EXPECT_FALSE(store_.ReadValue("ADCP COM Port"));

    WriteUserReg(kHeader + "[Software\\\\Velmar Sensors\\\\Tidewise] 1\n\"ADCP COM Port\"=\"COM1\"\n");
    EXPECT_FALSE(store_.OpenKey(kKey)) << "only the parent key exists";
    EXPECT_NE(store_.Error().find("no key"), std::string::npos);

    WriteSettings("\"ADCP Baud Rate\"=\"9600\"\n");
    ASSERT_TRUE(store_.OpenKey(kKey));
    EXPECT_TRUE(store_.Error().empty());
    EXPECT_FALSE(store_.ValueExists("ADCP COM Port"));
    EXPECT_FALSE(store_.ReadValue("ADCP COM Port"));
    store_.CloseKey();
    EXPECT_FALSE(store_.ValueExists("ADCP Baud Rate")) << "closed key";

    fs::create_directories(prefix_.Path() / "other" / "user.reg");
    SettingsStore dirStore(prefix_.Path() / "other");
    EXPECT_FALSE(dirStore.OpenKey(kKey)) << "user.reg that is a directory";
}

TEST_F(SettingsStoreTest, MalformedLinesAreSkippedAndTheRestIsRead) {
    struct Case {
        const char* name;
        std::string lines;  // follow the section header; a good "After" value comes next
        int badLine;        // line of the diagnostic, counted from the first line here
    };
    const std::string huge(3 << 20, 'x');
    std::string hugeHex = "\"Huge\"=hex:";
    for (int i = 0; i < (1 << 20) + 10; ++i) {
        hugeHex += "ab,";
    }
    const Case cases[] = {
        {"bad escape", "\"Bad\"=\"abc\\x\"\n", 1},          {"line ends in escape", "\"Bad\"=\"abc\\\n", 1},
        {"unterminated string", "\"Bad\"=\"abc\n", 1},      {"unterminated name", "\"Bad=\"abc\"\n", 1},
        {"text after the quote", "\"Bad\"=\"abc\"x\n", 1},  {"no equals", "\"Bad\" \"abc\"\n", 1},
        {"unknown form", "\"Bad\"=qword:1\n", 1},           {"bad str type", "\"Bad\"=str(z):\"abc\"\n", 1},
        {"dword too long", "\"Bad\"=dword:123456789\n", 1}, {"dword not hex", "\"Bad\"=dword:12g4\n", 1},
        {"bad hex byte", "\"Bad\"=hex:01,zz\n", 1},         {"bad hex in continuation", "\"Bad\"=hex:01,\\\n  0x\n", 1},
        {"hex(N) unclosed", "\"Bad\"=hex(3:01\n", 1},       {"garbage line", "Bad=1\n", 1},
        {"huge string", "\"Bad\"=\"" + huge + "\"\n", 1},   {"huge hex", hugeHex + "\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSettings("\"Before\"=\"1\"\n" + c.lines + "\"After\"=\"2\"\n");
        ASSERT_TRUE(store_.OpenKey(kKey)) << store_.Error();
        EXPECT_EQ(store_.ReadValue("Before")->text, "1");
        EXPECT_EQ(store_.ReadValue("After")->text, "2");
        EXPECT_FALSE(store_.ValueExists("Bad"));
        EXPECT_FALSE(store_.ValueExists("Huge"));
        ASSERT_EQ(store_.Diagnostics().size(), 1u);
        const int firstLine = 8;  // header (5 lines), section, #time, "Before"
        EXPECT_EQ(store_.Diagnostics()[0].line, firstLine + c.badLine);
    }
}

TEST_F(SettingsStoreTest, ValuesUnderABrokenSectionHeaderDoNotJoinThePreviousKey) {
    WriteSettings(
        "\"ADCP COM Port\"=\"COM3\"\n"
        "[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings 1700000000\n"
        "\"ADCP Baud Rate\"=\"9600\"\n"
        "[Software\\\\Next] 1\n"
        "\"Other\"=\"x\"\n");
    ASSERT_TRUE(store_.OpenKey(kKey));
    EXPECT_EQ(store_.ReadValue("ADCP COM Port")->text, "COM3");
    EXPECT_FALSE(store_.ValueExists("ADCP Baud Rate"));
    EXPECT_FALSE(store_.ValueExists("Other"));
    ASSERT_FALSE(store_.Diagnostics().empty());
    EXPECT_NE(store_.Diagnostics()[0].message.find("section"), std::string::npos);
    EXPECT_TRUE(store_.OpenKey("Software\\Next"));
}

TEST_F(SettingsStoreTest, CutShortHexDoesNotSwallowTheNextSection) {
    WriteSettings(
        "\"Bad\"=hex:01,02,\\\n"
        "[Software\\\\Next] 1\n"
        "\"Other\"=\"x\"\n");
    ASSERT_TRUE(store_.OpenKey(kKey));
    EXPECT_FALSE(store_.ValueExists("Bad"));
    EXPECT_FALSE(store_.ValueExists("Other"));
    ASSERT_TRUE(store_.OpenKey("Software\\Next"));
    EXPECT_EQ(store_.ReadValue("Other")->text, "x");
    EXPECT_EQ(store_.Diagnostics().size(), 1u);
}

TEST_F(SettingsStoreTest, FileEndingInsideContinuedHexKeepsEarlierValues) {
    WriteSettings("\"A\"=\"1\"\n\"Bad\"=hex:01,02,\\");
    ASSERT_TRUE(store_.OpenKey(kKey));
    EXPECT_EQ(store_.ReadValue("A")->text, "1");
    EXPECT_FALSE(store_.ValueExists("Bad"));
    EXPECT_EQ(store_.Diagnostics().size(), 1u);
}

TEST_F(SettingsStoreTest, RejectsFilesThatAreNotWineRegistries) {
    for (const std::string& text :
         {std::string(), std::string("REGEDIT4\n") + kSection + "\"A\"=\"1\"\n", std::string("\x00\x01\x02", 3)}) {
        WriteUserReg(text);
        EXPECT_FALSE(store_.OpenKey(kKey));
        EXPECT_NE(store_.Error().find("not a Wine registry file"), std::string::npos);
    }
}

TEST(RegFileTest, ArbitraryBytesNeverBreakTheParser) {
    std::mt19937 rng(7);
    const std::string alphabet = "\"\\[]@=:,()xhexdwordstr0123456789abcdef \t\r\n;#\xc3\xff";
    for (int round = 0; round < 300; ++round) {
        std::string text = kHeader + kSection;
        const int length = static_cast<int>(rng() % 400);
        for (int i = 0; i < length; ++i) {
            text += alphabet[rng() % alphabet.size()];
        }
        RegFile file;
        EXPECT_EQ(file.Parse(text), 0);
        if (const RegKey* key = file.FindKey(kKey)) {
            for (const auto& [name, value] : key->values) {
                (void)RegValueText(value);
            }
        }
    }
}

class WinePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(prefix_.Path() / "drive_c" / "Data" / "Out");
        fs::create_directory_symlink("../drive_c", prefix_.Path() / "dosdevices" / "c:");
        fs::create_directory_symlink("/", prefix_.Path() / "dosdevices" / "z:");
    }
    fs::path Devices() const { return prefix_.Path() / "dosdevices"; }

    test::TempWinePrefix prefix_;
};

TEST_F(WinePathTest, ResolvesThroughTheDriveLinks) {
    SettingsStore store;
    struct Case {
        const char* windows;
        fs::path expected;
    };
    const Case cases[] = {
        {"C:\\Data", Devices() / "c:" / "Data"},
        {"c:\\Data\\Out\\", Devices() / "c:" / "Data" / "Out"},
        {"C:\\DATA\\out", Devices() / "c:" / "Data" / "Out"},
        {"C:\\data\\New Dir\\Sub", Devices() / "c:" / "Data" / "New Dir" / "Sub"},
        {"\\Data", Devices() / "c:" / "Data"},
        {"\\", Devices() / "c:"},
        {"C:", Devices() / "c:"},
        {"\\\\?\\C:\\Data", Devices() / "c:" / "Data"},
        {"D:\\Logs", Devices() / "d:" / "Logs"},
        {"\\\\server\\share\\x", Devices() / "unc" / "server" / "share" / "x"},
        {"/var/tmp/logs", "/var/tmp/logs"},
        {"rel\\dir", "rel/dir"},
        {"Z:\\tmp", Devices() / "z:" / "tmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(store.ResolvePath(c.windows), c.expected);
    }
    EXPECT_TRUE(fs::is_directory(store.ResolvePath("C:\\data\\OUT")));
    EXPECT_TRUE(fs::is_directory(store.ResolvePath("Z:\\tmp")));
    EXPECT_FALSE(fs::exists(store.ResolvePath("D:\\Logs"))) << "no link for drive D:";
}

}  // namespace
}  // namespace hydrix::platform
