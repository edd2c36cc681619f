// Test doubles for the terminal control: a user interface that keeps exception reports
// and the clipboard, and a fixture that runs the message loop on the test thread (the
// widget host is fake_host.h).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capturing_ui.h"
#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "terminal/fake_host.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_capture.h"
#include "terminal/terminal_control.h"
#include "terminal/terminal_emulator.h"

namespace hydrix::terminal::test {

using hydrix::test::CapturingUi;

// A fresh temporary directory, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hydrix-term-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

class TerminalFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::MessageLoop::Instance().AttachToCurrentThread();
        ui_ = std::make_shared<CapturingUi>();
        previousUi_ = platform::SetUserInterface(ui_);
    }
    void TearDown() override {
        Pump();
        platform::SetUserInterface(previousUi_);
    }

    static void Pump() { platform::MessageLoop::Instance().ProcessMessages(); }
    static bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs = 5000) {
        return platform::MessageLoop::Instance().ProcessUntil(done, timeoutMs);
    }

    // The row's characters with trailing blanks removed.
    static std::string RowText(CustomTerminal& t, int row) {
        const uint8_t* chars = t.Buffer()->RowChars(row);
        std::string s(reinterpret_cast<const char*>(chars), static_cast<size_t>(t.Columns()));
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }

    static std::string ReadFile(const std::string& path) {
        std::string out;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
                out.append(buf, n);
            }
            std::fclose(f);
        }
        return out;
    }

    std::shared_ptr<CapturingUi> ui_;
    std::shared_ptr<platform::UserInterface> previousUi_;
};

}  // namespace hydrix::terminal::test
