// Received text through the TTY emulator and its buffer, side by side with libvterm on
// the same bytes: 20 MB of 80-column lines ending in CR LF, fed in 4 KB blocks as the
// terminal hands them over, on a 45-row screen with 1000 rows of scrollback. The
// emulator's changes are taken once per block, as the lazy painter would. The emulator's
// per-byte writes (the reference its run writes are tested against) are timed too.
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "terminal/terminal_buffer.h"
#include "terminal/tty_emulator.h"

namespace {

using hydrix::terminal::CellRect;
using hydrix::terminal::CharSource;
using hydrix::terminal::TTYEmulator;

constexpr size_t kTotalBytes = 20u * 1024 * 1024;
constexpr size_t kBlock = 4096;
constexpr int kRows = 45;
constexpr int kCols = 80;
constexpr int kScrollback = 1000;
constexpr int kRepeats = 3;

std::string MakeInput() {
    std::string data;
    data.reserve(kTotalBytes + 82);
    for (int line = 0; data.size() + 82 <= kTotalBytes; ++line) {
        for (int i = 0; i < kCols; ++i) {
            data.push_back(static_cast<char>('!' + (line + i) % 94));
        }
        data += "\r\n";
    }
    return data;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double RunTty(const std::string& data, bool perByte, std::string& lastRow) {
    TTYEmulator tty;
    tty.SetPerByteWrites(perByte);
    auto& buffer = *tty.Buffer();
    buffer.tbSetSVRowCount(kRows + kScrollback);
    buffer.tbSetRowCount(kRows);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    CellRect rect;
    const auto start = std::chrono::steady_clock::now();
    for (size_t pos = 0; pos < data.size(); pos += kBlock) {
        const size_t n = std::min(kBlock, data.size() - pos);
        tty.ProcessBlock(bytes + pos, static_cast<int>(n), CharSource::csPort);
        buffer.TakeInvalidRect(rect);
        buffer.TakeCursorMoved();
    }
    const double seconds = Seconds(start);
    lastRow.assign(reinterpret_cast<const char*>(buffer.RowChars(kRows - 1)), kCols);
    return seconds;
}

// The scrollback ring of the libvterm side: sb_pushline copies every line into it.
struct Ring {
    std::vector<VTermScreenCell> cells = std::vector<VTermScreenCell>(size_t{kScrollback} * kCols);
    size_t next = 0;
    size_t pushed = 0;
};

int PushLine(int cols, const VTermScreenCell* cells, void* user) {
    auto* ring = static_cast<Ring*>(user);
    const int n = std::min(cols, kCols);
    std::memcpy(&ring->cells[ring->next * kCols], cells, sizeof(VTermScreenCell) * static_cast<size_t>(n));
    ring->next = (ring->next + 1) % kScrollback;
    ++ring->pushed;
    return 1;
}

double RunVterm(const std::string& data, std::string& lastRow) {
    VTerm* vt = vterm_new(kRows, kCols);
    VTermScreen* screen = vterm_obtain_screen(vt);
    VTermScreenCallbacks callbacks{};
    callbacks.sb_pushline = PushLine;
    Ring ring;
    vterm_screen_set_callbacks(screen, &callbacks, &ring);
    vterm_screen_reset(screen, 1);
    const auto start = std::chrono::steady_clock::now();
    for (size_t pos = 0; pos < data.size(); pos += kBlock) {
        const size_t n = std::min(kBlock, data.size() - pos);
        vterm_input_write(vt, data.data() + pos, n);
    }
    const double seconds = Seconds(start);
    lastRow.clear();
    for (int col = 0; col < kCols; ++col) {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen, VTermPos{kRows - 2, col}, &cell);
        lastRow.push_back(static_cast<char>(cell.chars[0]));
    }
    vterm_free(vt);
    return seconds;
}

}  // namespace

int main() {
    const std::string data = MakeInput();
    const double mb = static_cast<double>(data.size()) / (1024.0 * 1024.0);
    double bestTty = 1e9;
    double bestPerByte = 1e9;
    double bestVterm = 1e9;
    std::string ttyRow;
    std::string perByteRow;
    std::string vtermRow;
    for (int i = 0; i < kRepeats; ++i) {
        bestTty = std::min(bestTty, RunTty(data, false, ttyRow));
        bestPerByte = std::min(bestPerByte, RunTty(data, true, perByteRow));
        bestVterm = std::min(bestVterm, RunVterm(data, vtermRow));
    }
    std::printf(
        "input: %.1f MB of %d-column lines, CR LF, %d-row screen, %d rows of scrollback, "
        "%zu-byte blocks, best of %d\n",
        mb, kCols, kRows, kScrollback, kBlock, kRepeats);
    std::printf("TTY emulator + buffer: %8.1f MB/s (%.3f s)\n", mb / bestTty, bestTty);
    std::printf("  per-byte writes:     %8.1f MB/s (%.3f s)\n", mb / bestPerByte, bestPerByte);
    std::printf("libvterm screen:       %8.1f MB/s (%.3f s)\n", mb / bestVterm, bestVterm);
    std::printf("ratio: %.2f x libvterm\n", bestVterm / bestTty);
    if (perByteRow != ttyRow) {
        std::printf("per-byte and run writes differ on the last written row:\n  %s\n  %s\n", perByteRow.c_str(),
                    ttyRow.c_str());
        return 1;
    }
    if (ttyRow != vtermRow) {
        std::printf("screens differ on the last written row:\n  %s\n  %s\n", ttyRow.c_str(), vtermRow.c_str());
        return 1;
    }
    return 0;
}
