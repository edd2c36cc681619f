// Data triggers: the byte matcher against a plain search, and the dispatcher's scan
// over an in-memory device fed in the reads the input chooses.
#include <cstdint>
#include <string>
#include <vector>

#include "../tests/comm/fake_dispatcher.h"
#include "comm/trigger_matcher.h"
#include "fuzz_input.h"

namespace {

using hydrix::comm::DataTrigger;
using hydrix::comm::kMaxTriggerLength;
using hydrix::fuzz::Check;
using hydrix::fuzz::FuzzInput;

std::string Fold(std::string s, bool ignoreCase) {
    if (ignoreCase) {
        for (char& c : s) c = static_cast<char>(hydrix::comm::UpperCaseByte(static_cast<uint8_t>(c)));
    }
    return s;
}

// Ends of the matches a plain search reports: a match ends where the string ends, and
// a match consumes its bytes, so the next one starts after it.
std::vector<size_t> ExpectedMatches(const std::string& needle, const std::string& text) {
    std::vector<size_t> ends;
    if (needle.empty()) return ends;
    size_t from = 0;
    for (size_t end = needle.size(); end <= text.size(); ++end) {
        const size_t start = end - needle.size();
        if (start >= from && text.compare(start, needle.size(), needle) == 0) {
            ends.push_back(end - 1);
            from = end;
        }
    }
    return ends;
}

void MatcherAgainstSearch(FuzzInput& in) {
    const bool ignoreCase = in.Byte() & 1;
    const std::string needle = in.Bytes(static_cast<size_t>(in.Pick(kMaxTriggerLength + 1)));
    const std::string text = in.Bytes(512);
    DataTrigger t;
    hydrix::comm::InitDataTrigger(t, reinterpret_cast<const uint8_t*>(needle.data()),
                                  static_cast<int>(needle.size()), ignoreCase);
    std::vector<size_t> got;
    for (size_t i = 0; i < text.size(); ++i) {
        if (hydrix::comm::MatchTriggerByte(t, static_cast<uint8_t>(text[i]))) got.push_back(i);
        for (int p : t.Partial) Check(p >= 0 && p < t.Length, "partial match index within the string");
    }
    Check(got == ExpectedMatches(Fold(needle, ignoreCase), Fold(text, ignoreCase)),
          "matcher agrees with a plain search");
}

struct Notice {
    uint32_t msg;
    uint32_t handle;
};

void DispatcherScan(FuzzInput& in) {
    hydrix::comm::test::FakeDispatcher d;
    if (d.Open() != 0) return;
    const int triggers = 1 + in.Pick(3);
    for (int i = 0; i < triggers; ++i) {
        const bool ignoreCase = in.Byte() & 1;
        const std::string s = in.Bytes(static_cast<size_t>(1 + in.Pick(kMaxTriggerLength)));
        if (s.empty()) break;
        d.NewDataTrigger(s.data(), ignoreCase, static_cast<int>(s.size()));
    }
    d.SetAvailThreshold(1 + in.Pick(8));
    std::string read;
    std::vector<Notice> notices;
    d.AttachMethodHandler(&read, [&](uint32_t msg, uint32_t handle, int32_t) {
        notices.push_back({msg, handle});
        if (msg == hydrix::comm::kTriggerAvailMsg) {
            const int n = d.BytesAvailable();
            if (n > 0) {
                std::string chunk(static_cast<size_t>(n), '\0');
                if (d.ReadBytes(chunk.data(), n) == 0) read += chunk;
            }
        }
    });
    std::string fed;
    while (!in.Empty()) {
        const std::string chunk = in.Bytes(static_cast<size_t>(1 + in.Pick(64)));
        fed += chunk;
        d.ReceiveAndCycle(chunk);
    }
    // Let the dispatcher take what is still held on the line and in the ring.
    for (int i = 0; i < 64 && (!d.rx.empty() || d.BytesAvailable() > 0); ++i) d.RunDeviceCycle();
    Check(d.BytesAvailable() >= 0, "bytes available is never negative");
    Check(fed.compare(0, read.size(), read) == 0, "bytes read are the bytes received, in order");
    d.DetachMethodHandler(&read);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    if (in.Byte() & 1) {
        MatcherAgainstSearch(in);
    } else {
        DispatcherScan(in);
    }
    return 0;
}
