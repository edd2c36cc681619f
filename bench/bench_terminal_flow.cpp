// The station's receive path end to end: a pty flooded with 80-column text lines goes
// through the com port and the terminal control (lazy display, capture on) into the buffer
// of an offscreen terminal widget. Measures the bytes per second that reach the capture
// file, the GUI thread's longest pause while they flow (largest gap between ticks of a
// 10 ms QTimer; beside it the same for a 10 ms window timer of the message loop, which
// tells a handler that holds the thread from Qt timers that starve), and checks the
// capture file against what was written. Of the longest pause it tells how long the GUI
// thread was on a cpu and how long it was ready but waiting for one (the scheduler's
// figures), which tells work the thread did from time other threads took.
//
//   bench_terminal_flow [--mb=32] [--rounds=1] [--width=635] [--height=564] [--progress]
//
// The widget is the station's terminal pane, its font chosen as the window chooses it;
// --width and --height resize it afterwards (the pane's size by default); --progress
// prints the bytes written and captured once a second to standard error.
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "comm/com_port.h"
#include "gui/qt_loop_driver.h"
#include "gui/terminal_pane.h"
#include "gui/terminal_widget.h"
#include "platform/message_loop.h"
#include "pty_bench_util.h"
#include "pty_helper.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_capture.h"
#include "terminal/terminal_control.h"

namespace {

using hydrix::bench::kStallMs;
using hydrix::bench::Millis;
using hydrix::bench::Seconds;
using hydrix::bench::SteadyClock;
using hydrix::terminal::CaptureMode;

constexpr int kComNumber = 1;
constexpr int kLineText = 80;   // printable columns per line, then CR LF
constexpr int kDrainMs = 3000;  // nothing more captured this long after the last write
constexpr int kTickMs = 10;

bool gProgress = false;
int gWidth = hydrix::gui::kTerminalPaneWidth;
int gHeight = hydrix::gui::kTerminalPaneHeight;

// Whole lines of at least megabytes MiB: an eight-digit line number, then printable text
// that shifts with the line, so that a lost or repeated chunk shows in the comparison.
std::string MakeLines(uint64_t megabytes) {
    const uint64_t want = megabytes * 1024 * 1024;
    const uint64_t lineBytes = kLineText + 2;
    const uint64_t lines = (want + lineBytes - 1) / lineBytes;
    std::string out;
    out.reserve(lines * lineBytes);
    char number[16];
    for (uint64_t i = 0; i < lines; ++i) {
        std::snprintf(number, sizeof number, "%08llu ", static_cast<unsigned long long>(i % 100000000));
        out += number;
        for (int c = 9; c < kLineText; ++c) {
            out += static_cast<char>(' ' + 1 + (i + c) % 94);
        }
        out += "\r\n";
    }
    return out;
}

// Runs Qt's loop until done() holds or timeoutMs passes.
template <typename Pred>
bool WaitFor(Pred done, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (SteadyClock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The calling thread's time on a cpu and time runnable but waiting for one, so far.
struct ThreadTimes {
    double runMs = 0;
    double waitMs = 0;

    static ThreadTimes Now() {
        ThreadTimes t;
        std::ifstream in("/proc/thread-self/schedstat");
        unsigned long long run = 0, wait = 0;
        if (in >> run >> wait) {
            t.runMs = static_cast<double>(run) / 1e6;
            t.waitMs = static_cast<double>(wait) / 1e6;
        }
        return t;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

uint64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

struct Round {
    double seconds = 0;        // first write to the last byte in the capture file
    double writerSeconds = 0;  // first write to the last byte taken by the pty
    double longestPauseMs = 0;
    ThreadTimes longestPauseSpent;  // of it, the GUI thread on a cpu / waiting for one
    double longestWindowTimerGapMs = 0;
    uint64_t largestCaptureStep = 0;  // seen by a sampler off the GUI thread
    double longestCaptureStallMs = 0;
    uint64_t ticks = 0;
    uint64_t written = 0;
    uint64_t captured = 0;
    bool floodOk = false;
    bool completed = false;
    bool captureMatches = false;
    bool captureIncomplete = false;
    bool lastLineShown = false;
    uint64_t firstDifference = UINT64_MAX;
    std::string failure;

    double MBps() const { return seconds > 0 ? static_cast<double>(captured) / seconds / 1e6 : 0; }
};

Round RunRound(const std::string& data) {
    Round result;
    hydrix::test::PtyPair pty;
    hydrix::test::TempWinePrefix prefix;
    prefix.LinkCom(kComNumber, pty.SlavePath());
    const std::string captureName = (prefix.Path() / "flow.cap").string();

    // Set up as the station sets up its port and terminal.
    hydrix::comm::ComPort port;
    port.SetComNumber(kComNumber);
    port.SetBaud(115200);
    port.SetTapiMode(hydrix::comm::TapiModeKind::tmOff);
    hydrix::terminal::Terminal terminal;
    terminal.SetActive(false);
    terminal.SetComPort(&port);
    terminal.SetScrollbackRows(1000);
    terminal.SetRows(45);
    terminal.SetScrollback(true);
    terminal.SetColor(0xFFFFFF);
    hydrix::terminal::TerminalFont font;
    font.Name = "Terminal";
    font.Height = -12;
    font.Color = 0x000000;
    terminal.SetFont(font);
    terminal.SetUseLazyDisplay(true);
    terminal.Loaded();
    {
        // The station's pane, with the font the window chooses for it.
        const std::unique_ptr<hydrix::gui::TerminalWidget> widget(hydrix::gui::MakeTerminalPane(terminal));
        widget->resize(gWidth, gHeight);
        widget->show();

        port.SetOpen(true);
        terminal.SetCaptureFile(captureName);
        terminal.SetCapture(CaptureMode::cmOn);
        terminal.SetActive(true);
        if (!WaitFor([&] { return terminal.Receiver().Hooked(); }, 5000)) {
            result.failure = "the terminal did not attach to the port";
            return result;
        }
        WaitFor([] { return false; }, 100);  // first layout and paints
        std::printf("  view: %d of %d columns and %d of %d rows fully visible, cell %dx%d px\n",
                    terminal.View().FullCols(), terminal.Columns(), terminal.View().FullRows(), terminal.Rows(),
                    terminal.View().CharWidth(), terminal.View().CharHeight());

        // The timer's ticks measure the GUI thread; it also watches the capture file fill.
        QEventLoop loop;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(kTickMs);
        std::atomic<uint64_t> sent{0};
        std::atomic<bool> writing{true};
        const auto start = SteadyClock::now();
        auto lastTick = start;
        ThreadTimes lastTickTimes = ThreadTimes::Now();
        auto lastProgress = start;
        auto lastReport = start;
        uint64_t lastCaptured = 0;
        SteadyClock::time_point finished{};
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const auto now = SteadyClock::now();
            const ThreadTimes times = ThreadTimes::Now();
            if (Millis(now - lastTick) > result.longestPauseMs) {
                result.longestPauseMs = Millis(now - lastTick);
                result.longestPauseSpent = {times.runMs - lastTickTimes.runMs, times.waitMs - lastTickTimes.waitMs};
            }
            lastTick = now;
            lastTickTimes = times;
            ++result.ticks;
            const uint64_t captured = FileSize(captureName);
            if (captured != lastCaptured) {
                lastCaptured = captured;
                lastProgress = now;
            }
            if (gProgress && now - lastReport >= std::chrono::seconds(1)) {
                lastReport = now;
                std::fprintf(stderr, "  %6.1f s: written %llu, captured %llu, receive queue %d\n", Seconds(now - start),
                             static_cast<unsigned long long>(sent.load()), static_cast<unsigned long long>(captured),
                             terminal.Receiver().Count());
            }
            if (captured >= data.size()) {
                finished = now;
                result.completed = true;
                loop.quit();
            } else if (now - lastProgress > std::chrono::milliseconds(writing ? kStallMs : kDrainMs)) {
                loop.quit();
            }
        });
        ticker.start();
        hydrix::platform::MessageLoop& messages = hydrix::platform::MessageLoop::Instance();
        auto lastWindowTick = start;
        const hydrix::platform::WindowHandle probe =
            messages.CreateWindow([&](uint32_t msg, hydrix::platform::WParam, hydrix::platform::LParam) {
                if (msg == hydrix::platform::WM_TIMER) {
                    const auto now = SteadyClock::now();
                    result.longestWindowTimerGapMs =
                        std::max(result.longestWindowTimerGapMs, Millis(now - lastWindowTick));
                    lastWindowTick = now;
                }
                return hydrix::platform::LResult{0};
            });
        messages.SetTimer(probe, 1, kTickMs);
        SteadyClock::time_point writerDone{};
        std::thread writer([&] {
            result.floodOk = hydrix::bench::FloodFrom(
                pty.MasterFd(), data.size(), [&](uint64_t at) { return data.data() + at; }, &sent);
            writerDone = SteadyClock::now();
            writing = false;
        });
        // Each chunk the control takes from its queue is one capture write; a sampler off the
        // GUI thread sees how big those chunks get and how long the file stands still.
        std::atomic<bool> sampling{true};
        std::thread sampler([&] {
            uint64_t last = 0;
            auto lastChange = SteadyClock::now();
            while (sampling) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
                const uint64_t size = FileSize(captureName);
                const auto now = SteadyClock::now();
                if (size != last) {
                    result.largestCaptureStep = std::max(result.largestCaptureStep, size - last);
                    last = size;
                    lastChange = now;
                } else if (size < data.size()) {
                    result.longestCaptureStallMs = std::max(result.longestCaptureStallMs, Millis(now - lastChange));
                }
            }
        });
        loop.exec();
        sampling = false;
        sampler.join();
        ticker.stop();
        messages.KillTimer(probe, 1);
        messages.DestroyWindow(probe);
        writer.join();
        result.written = sent.load();
        result.writerSeconds = Seconds(writerDone - start);
        result.seconds = Seconds((result.completed ? finished : SteadyClock::now()) - start);

        // The last line sits just above the cursor, whatever the lazy display painted.
        if (hydrix::terminal::TerminalBuffer* buffer = terminal.Buffer()) {
            const int row = buffer->CursorRow() - 1;
            const std::string last = data.substr(data.size() - kLineText - 2, kLineText);
            if (row >= 1 && terminal.Columns() >= kLineText) {
                result.lastLineShown =
                    std::memcmp(buffer->RowChars(row), last.data(), static_cast<size_t>(kLineText)) == 0;
            }
        }
        result.captureIncomplete = terminal.Capturing().Incomplete();
        terminal.SetCapture(CaptureMode::cmOff);
        terminal.SetActive(false);
        terminal.SetComPort(nullptr);
        port.SetOpen(false);
    }

    std::ifstream in(captureName, std::ios::binary);
    const std::string captured((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    result.captured = captured.size();
    const size_t common = std::min(captured.size(), data.size());
    const auto diff = std::mismatch(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(common), captured.begin());
    if (diff.first != data.begin() + static_cast<std::ptrdiff_t>(common)) {
        result.firstDifference = static_cast<uint64_t>(diff.first - data.begin());
    } else if (captured.size() != data.size()) {
        result.firstDifference = common;
    }
    result.captureMatches = result.firstDifference == UINT64_MAX;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    uint64_t megabytes = 32;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--mb=", 0) == 0) {
            megabytes = std::max<uint64_t>(1, std::strtoull(arg.c_str() + 5, nullptr, 10));
        } else if (arg.rfind("--rounds=", 0) == 0) {
            rounds = std::max(1, std::atoi(arg.c_str() + 9));
        } else if (arg.rfind("--width=", 0) == 0) {
            gWidth = std::max(1, std::atoi(arg.c_str() + 8));
        } else if (arg.rfind("--height=", 0) == 0) {
            gHeight = std::max(1, std::atoi(arg.c_str() + 9));
        } else if (arg == "--progress") {
            gProgress = true;
        } else if (arg != "-platform" && arg.rfind("-", 0) == 0) {
            std::fprintf(stderr, "usage: %s [--mb=32] [--rounds=1] [--width=635] [--height=564] [--progress]\n",
                         argv[0]);
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    hydrix::platform::MessageLoop::Instance().ResetQuit();
    hydrix::gui::QtLoopDriver driver;
    driver.Install();

    const std::string data = MakeLines(megabytes);
    std::printf("terminal flow: %.1f MB in %zu lines of %d columns + CR LF, widget %dx%d, lazy display, capture on\n",
                static_cast<double>(data.size()) / 1e6, data.size() / (kLineText + 2), kLineText, gWidth, gHeight);
    bool allOk = true;
    std::vector<double> pauses;
    std::vector<double> rates;
    for (int r = 1; r <= rounds; ++r) {
        const Round round = RunRound(data);
        if (!round.failure.empty()) {
            std::printf("  round %d: %s\n", r, round.failure.c_str());
            allOk = false;
            continue;
        }
        std::printf("  round %d: %7.2f MB/s  (%.2f s; writer done after %.2f s)  capture %s  last line in buffer: %s\n",
                    r, round.MBps(), round.seconds, round.writerSeconds, round.captureMatches ? "matches" : "DIFFERS",
                    round.lastLineShown ? "yes" : "no");
        std::printf(
            "           longest GUI pause %.1f ms (the GUI thread on a cpu %.1f ms of it, waiting for one %.1f ms);"
            " %llu ticks; window timer %.1f ms\n",
            round.longestPauseMs, round.longestPauseSpent.runMs, round.longestPauseSpent.waitMs,
            static_cast<unsigned long long>(round.ticks), round.longestWindowTimerGapMs);
        pauses.push_back(round.longestPauseMs);
        rates.push_back(round.MBps());
        std::printf("           largest step of the capture file %.2f MB, longest stretch without growth %.1f ms\n",
                    static_cast<double>(round.largestCaptureStep) / 1e6, round.longestCaptureStallMs);
        if (!round.captureMatches) {
            std::printf("           written %llu, captured %llu, first difference at byte %llu%s%s\n",
                        static_cast<unsigned long long>(round.written), static_cast<unsigned long long>(round.captured),
                        static_cast<unsigned long long>(round.firstDifference),
                        round.captureIncomplete ? ", capture reported incomplete" : "",
                        round.completed ? "" : ", flow stalled");
        }
        allOk = allOk && round.floodOk && round.completed && round.captureMatches && round.lastLineShown;
    }
    if (rounds > 1 && !pauses.empty()) {
        std::printf("  longest GUI pause by round:");
        for (const double p : pauses) {
            std::printf(" %.1f", p);
        }
        std::printf(" ms (median %.1f, max %.1f); MB/s median %.2f\n", Median(pauses),
                    *std::max_element(pauses.begin(), pauses.end()), Median(rates));
    }
    driver.Uninstall();
    return allOk ? 0 : 1;
}
