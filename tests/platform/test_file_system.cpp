#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialogs.h"
#include "platform/file_system.h"

namespace hydrix::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("hydrix_fs_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
};

TEST_F(FileSystemTest, ExistenceChecks) {
    const std::string file = PathOf("a.txt");
    ASSERT_EQ(CreateEmptyFile(file), 0);
    EXPECT_TRUE(DirectoryExists(dir_.string()));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_FALSE(DirectoryExists(PathOf("missing")));
    EXPECT_FALSE(DirectoryExists(""));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir_.string()));
}

TEST_F(FileSystemTest, WholeFileWritesAndAppends) {
    const std::string file = PathOf("log.txt");
    EXPECT_EQ(AppendToFile(file, "one\n"), 0);  // created when missing
    EXPECT_EQ(AppendToFile(file, std::string("tw\0o\n", 5)), 0);
    EXPECT_EQ(Contents(file), std::string("one\ntw\0o\n", 9));
    EXPECT_EQ(WriteWholeFile(file, "new"), 0);
    EXPECT_EQ(Contents(file), "new");
    EXPECT_EQ(CreateEmptyFile(file), 0);
    EXPECT_EQ(Contents(file), "");
    EXPECT_EQ(WriteWholeFile(PathOf("no/such/dir/x"), "x"), -ENOENT);
}

TEST_F(FileSystemTest, ErrorTextIsTheSystemsText) {
    EXPECT_EQ(ErrorTextForErrno(-ENOENT), "No such file or directory");
    EXPECT_EQ(ErrorTextForErrno(ENOENT), "No such file or directory");
    EXPECT_EQ(ErrorTextForErrno(EACCES), "Permission denied");
}

TEST_F(FileSystemTest, OutputFileCreateReplacesAndAppendKeepsContent) {
    const std::string file = PathOf("capture.txt");
    ASSERT_EQ(WriteWholeFile(file, std::string(100, 'x')), 0);
    {
        OutputFile out;
        ASSERT_EQ(out.OpenForAppend(file), 0);
        EXPECT_EQ(out.Write("0123456789"), 10);
    }
    const std::string appended = Contents(file);
    EXPECT_EQ(appended, std::string(100, 'x') + "0123456789");

    OutputFile out;
    ASSERT_EQ(out.Create(file), 0);
    EXPECT_EQ(Contents(file), "");
    EXPECT_EQ(out.Write("PA"), 2);
    EXPECT_EQ(out.Write("SS\r\n"), 4);
    EXPECT_EQ(Contents(file), "PASS\r\n");  // no buffering of our own
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.Write("x"), -EBADF);
}

TEST_F(FileSystemTest, OutputFileIsNotShared) {
    const std::string file = PathOf("held.txt");
    OutputFile first;
    ASSERT_EQ(first.Create(file), 0);
    ASSERT_EQ(first.Write("kept"), 4);

    OutputFile second;
    EXPECT_EQ(second.Create(file), -EBUSY);
    EXPECT_EQ(second.OpenForAppend(file), -EBUSY);
    EXPECT_EQ(Contents(file), "kept");  // the refused create did not empty it

    first.Close();
    EXPECT_EQ(second.OpenForAppend(file), 0);
}

TEST_F(FileSystemTest, OutputFileFailures) {
    OutputFile out;
    EXPECT_EQ(out.OpenForAppend(PathOf("missing.txt")), -ENOENT);
    EXPECT_FALSE(FileExists(PathOf("missing.txt")));
    EXPECT_EQ(out.Create(PathOf("no/dir/file.txt")), -ENOENT);
    EXPECT_EQ(out.Create(dir_.string()), -EISDIR);
    EXPECT_FALSE(out.IsOpen());
}

TEST(UserInterfaceTest, HeadlessWritesOneLinePerReportFromAnyThread) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    auto previous = SetUserInterface(std::make_shared<HeadlessUserInterface>(out));
    ShowMessageBox("Output directory does not exist.\rCheck your Tidewise configuration!", "Hydrix",
                   MessageIcon::Error);
    ShowMessageBox("Done\r\n", "", MessageIcon::Information);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([] {
            for (int j = 0; j < 10; ++j) {
                ShowExceptionReport("boom");
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    SetClipboardText("copied");
    EXPECT_EQ(ClipboardText(), "copied");
    MessageBeep();
    SetUserInterface(previous);

    std::rewind(out);
    std::vector<std::string> lines;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out)) {
        lines.emplace_back(buffer);
    }
    std::fclose(out);
    ASSERT_EQ(lines.size(), 42u);
    EXPECT_EQ(lines[0],
              "Error (Hydrix): Output directory does not exist. "
              "Check your Tidewise configuration!\n");
    EXPECT_EQ(lines[1], "Information: Done \n");
    for (size_t i = 2; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], "Exception: boom\n");
    }
}

}  // namespace
}  // namespace hydrix::platform
