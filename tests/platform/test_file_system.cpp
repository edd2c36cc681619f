#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

TEST_F(FileSystemTest, CreateNewTakesOnlyANameNothingStandsAt) {
    const std::string target = PathOf("target.txt");
    ASSERT_EQ(WriteWholeFile(target, "keep"), 0);
    fs::create_symlink(target, PathOf("link.txt"));
    fs::create_symlink(PathOf("nowhere"), PathOf("dangling.txt"));
    ASSERT_EQ(::mkfifo(PathOf("fifo.txt").c_str(), 0644), 0);
    OutputFile out;
    for (const char* taken : {"target.txt", "link.txt", "dangling.txt", "fifo.txt"}) {
        EXPECT_EQ(out.CreateNew(PathOf(taken)), -EEXIST) << taken;
    }
    EXPECT_EQ(Contents(target), "keep");
    EXPECT_FALSE(fs::exists(PathOf("nowhere")));
    ASSERT_EQ(out.CreateNew(PathOf("new.txt")), 0);
    EXPECT_EQ(out.Write("x"), 1);
    EXPECT_EQ(Contents(PathOf("new.txt")), "x");
}

TEST_F(FileSystemTest, NumberedNamePutsTheNumberBeforeTheExtension) {
    EXPECT_EQ(NumberedName("/out/1234.071231235958.99.txt", 2), "/out/1234.071231235958.99-2.txt");
    EXPECT_EQ(NumberedName("/out/1234..txt", 3), "/out/1234.-3.txt");
    EXPECT_EQ(NumberedName("/out.d/plain", 2), "/out.d/plain-2");
    EXPECT_EQ(NumberedName("/out/.txt", 2), "/out/.txt-2");
    EXPECT_EQ(NumberedName("name.txt", 10), "name-10.txt");
}

TEST_F(FileSystemTest, StandingTellsWhetherTheOpenFileIsStillAtItsName) {
    const std::string file = PathOf("c.txt");
    OutputFile out;
    ASSERT_EQ(out.CreateNew(file), 0);
    ASSERT_EQ(out.Write("12345"), 5);
    OutputFile::Standing s = out.StandingAt(file);
    EXPECT_TRUE(s.linked);
    EXPECT_TRUE(s.atPath);
    EXPECT_EQ(s.size, 5u);
    EXPECT_EQ(out.Sync(), 0);
    // Renamed away, another file put in its place, then removed altogether.
    fs::rename(file, PathOf("moved.txt"));
    ASSERT_EQ(WriteWholeFile(file, "other"), 0);
    s = out.StandingAt(file);
    EXPECT_TRUE(s.linked);
    EXPECT_FALSE(s.atPath);
    fs::remove_all(dir_);
    s = out.StandingAt(file);
    EXPECT_FALSE(s.linked);
    EXPECT_FALSE(s.atPath);
}

TEST_F(FileSystemTest, ReplaceFileWritesWholeOrNotAtAll) {
    const std::string file = PathOf("report.json");
    ASSERT_EQ(WriteWholeFile(file, "old"), 0);
    EXPECT_EQ(ReplaceFile(file, "new report"), 0);
    EXPECT_EQ(Contents(file), "new report");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::others_read, fs::perms::others_read);
    // A link at the name is replaced, its target kept.
    const std::string target = PathOf("target");
    ASSERT_EQ(WriteWholeFile(target, "keep"), 0);
    fs::create_symlink(target, PathOf("link.json"));
    EXPECT_EQ(ReplaceFile(PathOf("link.json"), "r"), 0);
    EXPECT_EQ(Contents(target), "keep");
    EXPECT_FALSE(fs::is_symlink(PathOf("link.json")));
    // A failure leaves the old file and no stray temporary one.
    fs::create_directory(PathOf("dir.json"));
    EXPECT_EQ(ReplaceFile(PathOf("dir.json"), "r"), -EISDIR);
    EXPECT_EQ(ReplaceFile(PathOf("missing/r.json"), "r"), -ENOENT);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dir.json", "link.json", "report.json", "target"}));
}

TEST_F(FileSystemTest, CheckReplaceableAndRemove) {
    EXPECT_EQ(CheckReplaceable(PathOf("r.json")), 0);
    EXPECT_FALSE(fs::exists(PathOf("r.json")));
    EXPECT_TRUE(fs::is_empty(dir_)) << "the trial file is gone again";
    EXPECT_EQ(CheckReplaceable(PathOf("missing/r.json")), -ENOENT);
    EXPECT_EQ(CheckReplaceable(dir_.string()), -EISDIR);
    ASSERT_EQ(WriteWholeFile(PathOf("plain"), "x"), 0);
    EXPECT_EQ(CheckReplaceable(PathOf("plain/r.json")), -ENOTDIR);
    EXPECT_EQ(CheckReplaceable(""), -ENOENT);
    EXPECT_EQ(RemoveFile(PathOf("plain")), 0);
    EXPECT_EQ(RemoveFile(PathOf("plain")), 0) << "a missing file is no error";
    EXPECT_FALSE(fs::exists(PathOf("plain")));
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
