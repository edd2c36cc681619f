// The folders of src/ use each other in one direction only (platform <- comm <- packet,
// terminal <- app <- gui; the simulator on the platform alone), and only the platform
// layer, the Qt layer and the simulator include system or Qt headers. Read from the
// include lines of every file, so a new include that breaks the rule fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace hydrix::test {
namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::set<std::string>> kMayUse = {
    {"platform", {"platform"}},
    {"comm", {"platform", "comm"}},
    {"packet", {"platform", "comm", "packet"}},
    {"terminal", {"platform", "comm", "terminal"}},
    {"app", {"platform", "comm", "packet", "terminal", "app"}},
    {"gui", {"platform", "comm", "packet", "terminal", "app", "gui"}},
    {"sim", {"platform", "sim"}},
};
const std::set<std::string> kMaySeeTheSystem = {"platform", "gui", "sim"};

struct Include {
    std::string file;
    int line;
    std::string text;
};

// The "..." or <...> of an include line, or empty.
std::string IncludeTarget(const std::string& line) {
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#') {
        return "";
    }
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line.compare(at, 7, "include") != 0) {
        return "";
    }
    at = line.find_first_of("<\"", at + 7);
    if (at == std::string::npos) {
        return "";
    }
    const size_t end = line.find(line[at] == '<' ? '>' : '"', at + 1);
    return end == std::string::npos ? "" : line.substr(at, end - at + 1);
}

std::vector<Include> IncludesIn(const fs::path& folder) {
    std::vector<Include> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") {
            continue;
        }
        std::ifstream in(entry.path());
        std::string text;
        for (int n = 1; std::getline(in, text); ++n) {
            std::string target = IncludeTarget(text);
            if (!target.empty()) {
                out.push_back({entry.path().string(), n, std::move(target)});
            }
        }
    }
    return out;
}

// What is wrong with one include of a file in folder, or empty.
std::string Breach(const std::string& folder, const std::string& include) {
    if (include.front() == '"') {
        const size_t slash = include.find('/');
        if (slash == std::string::npos) {
            return "a project header without its folder";
        }
        const std::string used = include.substr(1, slash - 1);
        if (!kMaySeeTheSystem.count(folder) && !kMayUse.count(used)) {
            return "an unknown folder";
        }
        return kMayUse.at(folder).count(used) ? "" : "a folder it must not use";
    }
    // C and POSIX headers end in ".h"; Qt's begin with Q.
    const bool system = include.ends_with(".h>") || include.starts_with("<Q");
    return system && !kMaySeeTheSystem.count(folder) ? "a system or Qt header" : "";
}

TEST(Layers, EveryFolderIncludesOnlyWhatItMayUse) {
    const fs::path src = HYDRIX_SOURCE_DIR;
    size_t read = 0;
    for (const auto& [folder, allowed] : kMayUse) {
        ASSERT_TRUE(fs::is_directory(src / folder)) << folder;
        for (const Include& inc : IncludesIn(src / folder)) {
            ++read;
            const std::string why = Breach(folder, inc.text);
            EXPECT_EQ(why, "") << inc.file << ":" << inc.line << " includes " << inc.text;
        }
    }
    EXPECT_GT(read, 100u) << "the includes were not found";
    // Every folder of src/ is under the rule.
    for (const auto& entry : fs::directory_iterator(src)) {
        if (entry.is_directory()) {
            EXPECT_TRUE(kMayUse.count(entry.path().filename().string())) << entry.path();
        }
    }
}

// Inside the terminal, the port and its dispatcher are known to the three files that bind
// to them: the receive pipe, the port link and the control's wiring; no header.
const std::set<std::string> kTerminalFilesThatSeeThePort = {"receive_pipe.cpp", "port_link.cpp",
                                                            "terminal_control.cpp"};

bool NamesThePortOrItsDispatcher(const std::string& include) {
    return include.starts_with("\"comm/com_port") || include.starts_with("\"comm/dispatcher") ||
           include.starts_with("\"comm/posix_dispatcher");
}

TEST(Layers, TheTerminalSeesThePortOnlyWhereItBindsToIt) {
    size_t seen = 0;
    for (const Include& inc : IncludesIn(fs::path(HYDRIX_SOURCE_DIR) / "terminal")) {
        if (!NamesThePortOrItsDispatcher(inc.text)) {
            continue;
        }
        ++seen;
        EXPECT_TRUE(kTerminalFilesThatSeeThePort.count(fs::path(inc.file).filename().string()))
            << inc.file << ":" << inc.line << " includes " << inc.text;
    }
    EXPECT_GT(seen, 0u) << "the binding files were not found";
}

TEST(Layers, TheRuleItselfCatchesWhatItMust) {
    EXPECT_TRUE(NamesThePortOrItsDispatcher("\"comm/dispatcher_hook.h\""));
    EXPECT_TRUE(NamesThePortOrItsDispatcher("\"comm/com_port.h\""));
    EXPECT_FALSE(NamesThePortOrItsDispatcher("\"comm/exceptions.h\""));
    EXPECT_EQ(Breach("comm", "\"packet/data_packet.h\""), "a folder it must not use");
    EXPECT_EQ(Breach("terminal", "\"packet/data_packet.h\""), "a folder it must not use");
    EXPECT_EQ(Breach("app", "\"gui/main_window.h\""), "a folder it must not use");
    EXPECT_EQ(Breach("platform", "\"comm/dispatcher.h\""), "a folder it must not use");
    EXPECT_EQ(Breach("comm", "<unistd.h>"), "a system or Qt header");
    EXPECT_EQ(Breach("terminal", "<QPainter>"), "a system or Qt header");
    EXPECT_EQ(Breach("app", "<nlohmann/json.hpp>"), "");
    EXPECT_EQ(Breach("comm", "<cerrno>"), "");
    EXPECT_EQ(Breach("gui", "<QPainter>"), "");
    EXPECT_EQ(Breach("platform", "<termios.h>"), "");
    EXPECT_EQ(Breach("gui", "\"app/station.h\""), "");
    EXPECT_EQ(IncludeTarget("  #  include <termios.h>  // why"), "<termios.h>");
    EXPECT_EQ(IncludeTarget("#include \"comm/ring.h\""), "\"comm/ring.h\"");
    EXPECT_EQ(IncludeTarget("// #include <unistd.h>"), "");
}

}  // namespace
}  // namespace hydrix::test
