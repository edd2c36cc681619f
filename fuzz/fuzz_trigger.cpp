// Data triggers: the byte matcher against a plain search, and the dispatcher's scan
// over an in-memory device fed in the reads the input chooses.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "comm/fake_device.h"
#include "comm/trigger_matcher.h"
#include "fuzz_input.h"

namespace {

using hydrix::comm::DataTrigger;
using hydrix::comm::kMaxTriggerLength;
using hydrix::fuzz::Check;
using hydrix::fuzz::FuzzInput;

std::string Fold(std::string s, bool ignoreCase) {
    if (ignoreCase) {
        for (char& c : s) {
            c = static_cast<char>(hydrix::comm::UpperCaseByte(static_cast<uint8_t>(c)));
        }
    }
    return s;
}

bool EndsHere(const std::string& needle, const std::string& text, size_t end) {
    return end + 1 >= needle.size() && text.compare(end + 1 - needle.size(), needle.size(), needle) == 0;
}

// Every reported match ends an occurrence of the string, and no occurrence that starts
// after the last reported match is missed. (The byte that completes a match may also
// open the next one, so an occurrence sharing that byte can be reported as well.)
void CheckMatches(const std::string& needle, const std::string& text, const std::vector<size_t>& got) {
    size_t next = 0;
    bool any = false;
    size_t last = 0;
    for (size_t end = 0; end < text.size(); ++end) {
        const bool reported = next < got.size() && got[next] == end;
        if (reported) {
            ++next;
        }
        if (needle.empty()) {
            Check(!reported, "an empty string never matches");
            continue;
        }
        const bool occurs = EndsHere(needle, text, end);
        Check(!reported || occurs, "a reported match ends an occurrence");
        if (occurs && (!any || end + 1 - needle.size() > last)) {
            Check(reported, "no occurrence is missed");
        }
        if (reported) {
            any = true;
            last = end;
        }
    }
}

void MatcherAgainstOccurrences(FuzzInput& in) {
    const bool ignoreCase = in.Byte() & 1;
    const std::string needle = in.Bytes(static_cast<size_t>(in.Pick(kMaxTriggerLength + 1)));
    const std::string text = in.Bytes(512);
    DataTrigger t;
    hydrix::comm::InitDataTrigger(t, reinterpret_cast<const uint8_t*>(needle.data()), static_cast<int>(needle.size()),
                                  ignoreCase);
    std::vector<size_t> got;
    for (size_t i = 0; i < text.size(); ++i) {
        if (hydrix::comm::MatchTriggerByte(t, static_cast<uint8_t>(text[i]))) {
            got.push_back(i);
        }
        for (int p : t.Partial) {
            Check(p >= 0 && p < std::max(t.Length, 1), "partial match index within the string");
        }
    }
    CheckMatches(Fold(needle, ignoreCase), Fold(text, ignoreCase), got);
}

struct Notice {
    uint32_t msg;
    uint32_t handle;
};

void DispatcherScan(FuzzInput& in) {
    hydrix::comm::test::FakeDispatcher d;
    if (d.Open() != 0) {
        return;
    }
    const int triggers = 1 + in.Pick(3);
    for (int i = 0; i < triggers; ++i) {
        const bool ignoreCase = in.Byte() & 1;
        const std::string s = in.Bytes(static_cast<size_t>(1 + in.Pick(kMaxTriggerLength)));
        if (s.empty()) {
            break;
        }
        d->NewDataTrigger(s.data(), ignoreCase, static_cast<int>(s.size()));
    }
    d->SetAvailThreshold(1 + in.Pick(8));
    std::string read;
    std::vector<Notice> notices;
    d->AttachMethodHandler(&read, [&](uint32_t msg, uint32_t handle, int32_t) {
        notices.push_back({msg, handle});
        if (msg == hydrix::comm::kTriggerAvailMsg) {
            // The offer is read whole, as a handler that wants the bytes does.
            const int n = static_cast<int>(handle);
            if (n > 0) {
                std::string chunk(static_cast<size_t>(n), '\0');
                Check(d->ReadBytes(chunk.data(), n) == n, "an offered count can be read");
                read += chunk;
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
    for (int i = 0; i < 64 && (!d.dev.rx.empty() || d->BytesAvailable() > 0); ++i) {
        d->RunDeviceCycle();
    }
    Check(d->BytesAvailable() >= 0, "bytes available is never negative");
    Check(fed.compare(0, read.size(), read) == 0, "bytes read are the bytes received, in order");
    d->DetachMethodHandler(&read);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    if (in.Byte() & 1) {
        MatcherAgainstOccurrences(in);
    } else {
        DispatcherScan(in);
    }
    return 0;
}
