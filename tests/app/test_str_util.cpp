// The string utilities behind the captions and the capture file name, and the output
// directory as the station forms it from the settings.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/host_settings.h"
#include "app/str_util.h"
#include "pty_helper.h"

namespace hydrix::app::test {
namespace {

TEST(StrUtil, FilterCharsDropsEveryOccurrenceAndKeepsOrder) {
    EXPECT_EQ(FilterChars("07/12/31,23:59:58.99", "/"), "071231,23:59:58.99");
    EXPECT_EQ(FilterChars("a:b::c", ":"), "abc");
    EXPECT_EQ(FilterChars("a/b:c,d", "/:,"), "abcd");
    EXPECT_EQ(FilterChars("", "/"), "");
    EXPECT_EQ(FilterChars("abc", ""), "abc");
}

TEST(StrUtil, TrimRemovesBlanksAndControlCharactersAtBothEndsOnly) {
    EXPECT_EQ(Trim("  1234 \r\n"), "1234");
    EXPECT_EQ(Trim("\t\x01 a b \x1f"), "a b");
    EXPECT_EQ(Trim(" \r\n "), "");
    EXPECT_EQ(Trim("a\x01"
                   "b"),
              "a\x01"
              "b");
    EXPECT_EQ(Trim("\xe4\xb8\x80 "), "\xe4\xb8\x80") << "bytes above 0x7F are text";
}

TEST(StrUtil, StrToIntAcceptsWholeNumbersOnly) {
    struct Case {
        const char* text;
        int32_t value;
    };
    for (const Case& c :
         {Case{"3", 3}, Case{"12", 12}, Case{"115200", 115200}, Case{"  7", 7}, Case{"-5", -5}, Case{"+9", 9},
          Case{"$1F", 31}, Case{"0x10", 16}, Case{"2147483647", 2147483647}, Case{"-2147483648", INT32_MIN}}) {
        EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    }
    for (const char* bad : {"", " ", "-", "$", "12 ", "1.5", "COM3", "2147483648", "-2147483649", "0x", "1e3"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(StrUtil, SafeFileNamePartKeepsOrdinaryTextAndNeutralisesTheRest) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"1234", "1234"},       {"071231235958.99", "071231235958.99"},
        {"SN 12-A", "SN 12-A"}, {"../../etc/passwd", "______etc_passwd"},
        {"..", "__"},           {"a...b", "a___b"},
        {"C:\\x", "C__x"},      {std::string("a\0b", 3), "a_b"},
        {"a\rb\x7f", "a_b_"},   {"<>:\"|?*", "_______"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SafeFileNamePart(c.in, 100), c.out) << c.in;
    }
    EXPECT_EQ(SafeFileNamePart(std::string(300, 'x'), 100).size(), 100u);
}

TEST(HostSettingsDirectory, EndsInOneSeparatorAndResolvesWindowsPaths) {
    hydrix::test::TempWinePrefix prefix;
    std::filesystem::create_directories(prefix.Path() / "drive_c" / "Data");
    std::filesystem::create_directory_symlink(prefix.Path() / "drive_c", prefix.Path() / "dosdevices" / "c:");
    HostSettings settings(prefix.Path());
    const std::string drive = (prefix.Path() / "dosdevices" / "c:").string();

    EXPECT_EQ(settings.OutputDirectory(""), drive + "/") << "an empty setting is the root of drive C:";
    EXPECT_EQ(settings.OutputDirectory("\\Data"), drive + "/Data/") << "no drive letter: drive C:";
    EXPECT_EQ(settings.OutputDirectory("/tmp/out"), "/tmp/out/");
    EXPECT_EQ(settings.OutputDirectory("/tmp/out/"), "/tmp/out/") << "no second separator";
    EXPECT_EQ(settings.OutputDirectory("C:\\Data"), drive + "/Data/");
    EXPECT_EQ(settings.OutputDirectory("C:\\Data\\"), drive + "/Data/");
    EXPECT_EQ(settings.OutputDirectory("c:\\data"), drive + "/Data/") << "matched without regard to case";
}

}  // namespace
}  // namespace hydrix::app::test
