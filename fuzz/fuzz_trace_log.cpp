// The trace and the dispatch log: random operations and entries, written to a
// temporary file, with their counts checked against their capacities.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "comm/dispatch_log.h"
#include "comm/trace.h"
#include "fuzz_input.h"

namespace {

using hydrix::comm::DispatchLog;
using hydrix::comm::LogKind;
using hydrix::comm::LogSubKind;
using hydrix::comm::Trace;
using hydrix::fuzz::Check;
using hydrix::fuzz::FuzzInput;

const std::string& TempFile() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("hydrix-fuzz-log-" + std::to_string(getpid()) + ".txt")).string();
    return path;
}

void CheckTrace(const Trace& t) {
    Check(t.Count() >= 0 && t.Count() <= t.Capacity(), "trace holds at most its capacity");
}

void CheckLog(const DispatchLog& log) {
    Check(log.Used() <= log.Size(), "log uses at most its size");
    Check(log.Count() == 0 || log.Used() >= log.Count() * DispatchLog::kHeaderSize, "every entry has a header");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Trace trace;
    DispatchLog log;
    int writes = 0;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        const bool allHex = op & 0x40, hex = op & 0x80;
        switch (op % 14) {
        case 0:
            trace.Start(static_cast<int32_t>(in.Word() % 600) - 20);
            break;
        case 1:
            trace.Pause();
            break;
        case 2:
            trace.Resume();
            break;
        case 3:
            trace.Reset();
            break;
        case 4:
            trace.Stop();
            break;
        case 5: {
            const std::string bytes = in.Run(40);
            const uint8_t kind = in.Byte() & 1 ? hydrix::comm::kTraceReceive : hydrix::comm::kTraceTransmit;
            for (char c : bytes) {
                trace.Add(kind, static_cast<uint8_t>(c));
            }
            break;
        }
        case 6:
            if (writes++ < 3) {
                trace.Write(TempFile(), in.Byte() & 1, allHex, hex);
            }
            break;
        case 7:
            log.Start(in.Word() % 2000, in.Word() % 300);
            break;
        case 8:
            log.Pause();
            break;
        case 9:
            log.Resume();
            break;
        case 10:
            log.Reset();
            break;
        case 11:
            log.Stop();
            break;
        case 12: {
            const auto kind = static_cast<LogKind>(in.Byte());
            const auto sub = static_cast<LogSubKind>(in.Byte());
            const uint32_t time = in.Word();
            const uint32_t word = in.Word();
            const std::string bytes = in.Run(255);
            log.Add(kind, sub, time, word, bytes.empty() && (op & 0x20) ? nullptr : bytes.data(),
                    static_cast<uint32_t>(bytes.size()));
            break;
        }
        case 13:
            if (writes++ < 3) {
                log.Write(TempFile(), in.Byte() & 1, allHex, hex, in.Run(16), "Linux 6.1.0", "08/12/26, 20:10:00");
            }
            break;
        }
        CheckTrace(trace);
        CheckLog(log);
    }
    std::error_code ignored;
    std::filesystem::remove(TempFile(), ignored);
    return 0;
}
