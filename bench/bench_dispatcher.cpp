// The dispatcher on real pseudo-terminals, each figure beside a plain poll()+read()
// loop on a pty in the same run: throughput of received bytes to a method handler,
// latency of the prompt's data trigger to a window on the GUI thread, and the CPU an
// open port costs while idle and while its input ring is full and nobody reads.
//
//   bench_dispatcher [--mb=64] [--rounds=3] [--prompts=1000] [--quiet-prompts=200] [--idle=10]
//                    [--only=throughput,latency,idle] [--detail] [--skip-plain]
//
// --detail adds each thread's cpu time and time spent waiting for a cpu, and the plain
// loop split over two threads in lockstep as the dispatcher's are; --skip-plain
// leaves out the plain throughput loop, for profiling the dispatcher alone.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comm/dispatcher.h"
#include "comm/ring.h"
#include "comm/triggers.h"
#include "platform/event.h"
#include "platform/message_loop.h"
#include "pty_bench_util.h"
#include "pty_helper.h"

namespace {

using namespace hydrix::bench;
using hydrix::comm::BaseDispatcher;
using hydrix::platform::MessageLoop;

std::unique_ptr<BaseDispatcher> OpenDispatcher(const hydrix::test::PtyPair& pty) {
    auto d = std::make_unique<BaseDispatcher>(nullptr);
    d->SetDeviceName(pty.SlavePath());
    const int result = d->OpenDevice(pty.SlavePath(), 115200, hydrix::comm::kOpenDtrOn | hydrix::comm::kOpenRtsOn, 8192,
                                     4096, 1, 8, 0);
    if (result < 0) {
        std::fprintf(stderr, "OpenDevice %s: %d %s\n", pty.SlavePath().c_str(), result,
                     d->LastOpenFailure().text.c_str());
        std::exit(2);
    }
    return d;
}

bool gDetail = false;
bool gSkipPlain = false;  // profiling the dispatcher alone

// 1. Throughput -----------------------------------------------------------------------

struct Throughput {
    double seconds = 0;
    double cpuSeconds = 0;
    long switches = 0;
    PatternSink sink;
    bool ok = false;
    std::map<int, TaskTimes> tasksBefore, tasksAfter;
    std::map<int, std::string> taskNames;

    double MBps() const { return static_cast<double>(sink.received) / seconds / 1e6; }
};

Throughput PlainThroughput(uint64_t total) {
    hydrix::test::PtyPair pty;
    const int fd = OpenPlainSlave(pty.SlavePath());
    Throughput t;
    std::vector<uint8_t> buffer(kPlainReadSize);
    t.taskNames[::gettid()] = "reader (main)";
    std::atomic<int> writerTid{0};
    t.tasksBefore = SampleTasks();
    const CpuSample before = CpuSample::Now();
    bool floodOk = true;
    std::thread writer([&] {
        writerTid = ::gettid();
        floodOk = Flood(pty.MasterFd(), total);
    });
    while (t.sink.received < total) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, kStallMs);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            t.sink.Take(buffer.data(), static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    const CpuSample after = CpuSample::Now();
    t.tasksAfter = SampleTasks();
    writer.join();
    t.taskNames[writerTid] = "writer";
    ::close(fd);
    t.seconds = Seconds(after.wall - before.wall);
    t.cpuSeconds = after.cpu - before.cpu;
    t.switches = after.switches - before.switches;
    t.ok = floodOk && t.sink.received == total && t.sink.firstBad == UINT64_MAX;
    return t;
}

// The plain loop split as the dispatcher splits it: a waiting thread that polls and hands
// each event to a reading thread through the platform's events, in lockstep. What the
// hand-off alone costs, without rings, triggers or notifications. With drain set the
// reading thread keeps reading while the driver has bytes before it releases the waiter.
Throughput LockstepThroughput(uint64_t total, bool drain) {
    hydrix::test::PtyPair pty;
    const int fd = OpenPlainSlave(pty.SlavePath());
    Throughput t;
    std::vector<uint8_t> buffer(hydrix::comm::kInputRingSize);
    hydrix::platform::Event ready{false};
    hydrix::platform::Event cycleDone{false};
    std::atomic<bool> stop{false};
    std::thread waiter([&] {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            ready.Set();
            cycleDone.Wait(100);
        }
    });
    const CpuSample before = CpuSample::Now();
    bool floodOk = true;
    std::thread writer([&] { floodOk = Flood(pty.MasterFd(), total); });
    auto lastProgress = SteadyClock::now();
    while (t.sink.received < total && SteadyClock::now() - lastProgress < std::chrono::milliseconds(kStallMs)) {
        ready.Wait(50);
        ssize_t n;
        do {
            n = ::read(fd, buffer.data(), buffer.size());
            if (n > 0) {
                t.sink.Take(buffer.data(), static_cast<size_t>(n));
                lastProgress = SteadyClock::now();
            }
        } while (drain && n > 0 && t.sink.received < total);
        cycleDone.Set();
    }
    const CpuSample after = CpuSample::Now();
    stop = true;
    cycleDone.Set();
    waiter.join();
    writer.join();
    ::close(fd);
    t.seconds = Seconds(after.wall - before.wall);
    t.cpuSeconds = after.cpu - before.cpu;
    t.switches = after.switches - before.switches;
    t.ok = floodOk && t.sink.received == total && t.sink.firstBad == UINT64_MAX;
    return t;
}

Throughput DispatcherThroughput(uint64_t total) {
    hydrix::test::PtyPair pty;
    auto d = OpenDispatcher(pty);
    Throughput t;
    std::vector<uint8_t> buffer(hydrix::comm::kInputRingSize);
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    bool shortRead = false;
    SteadyClock::time_point end;
    std::atomic<uint64_t> progress{0};
    int dispTid = 0;

    // As the terminal and the packet manager do: read every offered byte on 32257.
    d->SetAvailThreshold(1);
    d->AttachMethodHandler(&t, [&](uint32_t msg, uint32_t count, int32_t) {
        if (msg != hydrix::comm::kTriggerAvailMsg) {
            return;
        }
        const int got = d->ReadBytes(buffer.data(), static_cast<int>(count));
        // Only this thread touches the sink until done is set; the main thread is
        // woken only at the end so that it costs the measured path nothing.
        if (dispTid == 0) {
            dispTid = ::gettid();
        }
        if (got != static_cast<int>(count)) {
            shortRead = true;
        } else {
            t.sink.Take(buffer.data(), count);
        }
        progress.store(t.sink.received, std::memory_order_relaxed);
        if (shortRead || t.sink.received >= total) {
            std::lock_guard guard(lock);
            end = SteadyClock::now();
            done = true;
            changed.notify_all();
        }
    });

    t.taskNames[::gettid()] = "main (waiting)";
    std::atomic<int> writerTid{0};
    t.tasksBefore = SampleTasks();
    const CpuSample before = CpuSample::Now();
    bool floodOk = true;
    std::thread writer([&] {
        writerTid = ::gettid();
        floodOk = Flood(pty.MasterFd(), total);
    });
    {
        std::unique_lock held(lock);
        uint64_t seen = 0;
        auto lastProgress = SteadyClock::now();
        // Gives up only when delivery stops making progress.
        while (!done) {
            changed.wait_for(held, std::chrono::milliseconds(500), [&] { return done; });
            const uint64_t now = progress.load(std::memory_order_relaxed);
            if (now != seen) {
                seen = now;
                lastProgress = SteadyClock::now();
            } else if (SteadyClock::now() - lastProgress > std::chrono::milliseconds(kStallMs)) {
                break;
            }
        }
        if (!done) {
            end = SteadyClock::now();
            std::printf("    STALLED: nothing delivered for %d ms; ring holds %d bytes, in dispatch %d\n", kStallMs,
                        d->BytesAvailable(), d->InDispatch() ? 1 : 0);
        }
    }
    const CpuSample after = CpuSample::Now();
    t.tasksAfter = SampleTasks();
    writer.join();
    t.taskNames[writerTid] = "writer";
    d->DetachMethodHandler(&t);
    t.taskNames[dispTid] = "dispatcher thread";
    d.reset();
    t.seconds = Seconds(end - before.wall);
    t.cpuSeconds = after.cpu - before.cpu;
    t.switches = after.switches - before.switches;
    std::lock_guard guard(lock);
    t.ok = floodOk && !shortRead && t.sink.received == total && t.sink.firstBad == UINT64_MAX;
    if (shortRead) {
        std::fprintf(stderr, "ReadBytes returned less than offered\n");
    }
    return t;
}

void PrintThroughput(const char* name, const Throughput& t) {
    std::printf("  %-20s %7.1f MB/s  %6.3f s  %5.0f B/delivery  cpu %5.3f s (%3.0f%% of a core, %4.1f ms/MB)  %s\n",
                name, t.MBps(), t.seconds,
                t.sink.chunks ? static_cast<double>(t.sink.received) / static_cast<double>(t.sink.chunks) : 0.0,
                t.cpuSeconds, 100.0 * t.cpuSeconds / t.seconds,
                1000.0 * t.cpuSeconds / (static_cast<double>(t.sink.received) / 1e6), t.ok ? "verified" : "FAILED");
    if (gDetail) {
        PrintTasks(t.tasksBefore, t.tasksAfter, t.taskNames, t.seconds);
    }
    if (!t.ok) {
        std::printf("    received %llu bytes, first difference at %lld\n",
                    static_cast<unsigned long long>(t.sink.received),
                    t.sink.firstBad == UINT64_MAX ? -1LL : static_cast<long long>(t.sink.firstBad));
    }
}

bool RunThroughput(uint64_t total, int rounds) {
    std::printf("\n1. Throughput: %llu MB flooded into the pty master in %zu KB writes, %d rounds\n",
                static_cast<unsigned long long>(total >> 20), kWriteChunk / 1024, rounds);
    Throughput bestPlain, bestDisp;
    bool ok = true;
    for (int round = 1; round <= rounds; ++round) {
        std::printf(" round %d\n", round);
        const Throughput plain = gSkipPlain ? Throughput{} : PlainThroughput(total);
        if (!gSkipPlain) {
            PrintThroughput("plain poll()+read()", plain);
        }
        if (gDetail && !gSkipPlain) {
            PrintThroughput("plain, 2 thr lockstep", LockstepThroughput(total, false));
            PrintThroughput("  same, reader drains", LockstepThroughput(total, true));
        }
        const Throughput disp = DispatcherThroughput(total);
        PrintThroughput("dispatcher 32257", disp);
        ok = ok && (gSkipPlain || plain.ok) && disp.ok;
        if (plain.ok && plain.MBps() > bestPlain.MBps()) {
            bestPlain = plain;
        }
        if (disp.ok && disp.MBps() > bestDisp.MBps()) {
            bestDisp = disp;
        }
    }
    if (bestPlain.seconds > 0 && bestDisp.seconds > 0) {
        const double ratio = bestDisp.MBps() / bestPlain.MBps();
        std::printf(" best: plain %.1f MB/s, dispatcher %.1f MB/s, ratio %.2f (target >= 0.80: %s)\n", bestPlain.MBps(),
                    bestDisp.MBps(), ratio, ratio >= 0.8 ? "met" : "MISSED");
    }
    return ok;
}

// 2. Trigger latency --------------------------------------------------------------------

struct LatencyStats {
    std::vector<double> ms;
    std::vector<SteadyClock::time_point> sent;
    int lost = 0;

    double At(double q) const {
        if (ms.empty()) {
            return 0;
        }
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        const double rank = std::ceil(q * static_cast<double>(v.size())) - 1;
        const auto i = static_cast<size_t>(std::clamp(rank, 0.0, static_cast<double>(v.size() - 1)));
        return v[i];
    }
};

void PrintLatency(const char* name, const LatencyStats& s, bool judge) {
    double mean = 0;
    for (double v : s.ms) {
        mean += v;
    }
    if (!s.ms.empty()) {
        mean /= static_cast<double>(s.ms.size());
    }
    std::printf("  %-30s n=%4zu  median %6.3f ms  p99 %6.3f ms  mean %6.3f  min %6.3f  max %7.3f", name, s.ms.size(),
                s.At(0.5), s.At(0.99), mean, s.At(0.0), s.At(1.0));
    if (s.lost) {
        std::printf("  LOST %d", s.lost);
    }
    if (judge) {
        std::printf("  (median < 0.5: %s, p99 < 2: %s)", s.At(0.5) < 0.5 ? "met" : "MISSED",
                    s.At(0.99) < 2.0 ? "met" : "MISSED");
    }
    std::printf("\n");
}

// How the prompts are paced. Back to back: each prompt alone, a short random pause after
// the previous one was handled, so the threads are awake and at no fixed phase. As the
// instrument answers: a quiet spell longer than the dispatcher's 50 ms cycle, a reply
// line, and the prompt a moment after it.
struct Pacing {
    const char* name;
    int gapMinUs;
    int gapMaxUs;
    std::string reply;
    int promptAfterReplyUs;
};

const Pacing kBackToBack{"back to back", 300, 1300, "", 0};
const Pacing kAsInstrument{"after a quiet spell, 2 ms behind a reply line", 60000, 90000, "PS3 OK\r\n", 2000};

// Writes the prompts and waits for each until arrived(i, bytesSentSoFar) holds; the
// arrival time of prompt i is read back through arrivalOf. Runs on a thread of its own.
template <typename Arrived, typename ArrivalOf>
LatencyStats DrivePrompts(int masterFd, int prompts, const Pacing& pacing, std::mutex& lock,
                          std::condition_variable& changed, Arrived arrived, ArrivalOf arrivalOf) {
    LatencyStats s;
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> gapUs(pacing.gapMinUs, pacing.gapMaxUs);
    uint64_t sent = 0;
    for (int i = 0; i < prompts; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(gapUs(rng)));
        if (!pacing.reply.empty()) {
            if (!WriteAll(masterFd, pacing.reply)) {
                break;
            }
            sent += pacing.reply.size();
            std::this_thread::sleep_for(std::chrono::microseconds(pacing.promptAfterReplyUs));
        }
        const auto t0 = SteadyClock::now();
        const bool written = WriteAll(masterFd, ">");
        ++sent;
        std::unique_lock held(lock);
        if (!written || !changed.wait_for(held, std::chrono::seconds(5), [&] { return arrived(i, sent); })) {
            s.lost = prompts - i;
            break;
        }
        s.ms.push_back(Millis(arrivalOf(i) - t0));
        s.sent.push_back(t0);
    }
    return s;
}

LatencyStats PlainLatency(int prompts, const Pacing& pacing) {
    hydrix::test::PtyPair pty;
    const int fd = OpenPlainSlave(pty.SlavePath());
    std::mutex lock;
    std::condition_variable changed;
    LatencyStats s;
    {
        PlainReader reader(fd, lock, changed);
        s = DrivePrompts(
            pty.MasterFd(), prompts, pacing, lock, changed,
            [&](int i, uint64_t) { return reader.arrivals.size() > static_cast<size_t>(i); },
            [&](int i) { return reader.arrivals[static_cast<size_t>(i)]; });
    }
    ::close(fd);
    return s;
}

// The plain loop handing each prompt to a window on the GUI thread by the same blocking
// send the dispatcher uses: the share of the platform's message loop in the latency.
LatencyStats PlainToGuiLatency(int prompts, const Pacing& pacing) {
    auto& loop = MessageLoop::Instance();
    hydrix::test::PtyPair pty;
    const int fd = OpenPlainSlave(pty.SlavePath());
    std::mutex lock;
    std::condition_variable changed;
    std::vector<SteadyClock::time_point> arrivals;
    const auto window = loop.CreateWindow([&](uint32_t msg, hydrix::platform::WParam, hydrix::platform::LParam) {
        if (msg == hydrix::comm::kTriggerDataMsg) {
            const auto now = SteadyClock::now();
            std::lock_guard guard(lock);
            arrivals.push_back(now);
            changed.notify_all();
        }
        return hydrix::platform::LResult{0};
    });
    LatencyStats s;
    {
        PlainReader reader(fd, lock, changed, [&] {
            loop.SendMessageTimeout(window, hydrix::comm::kTriggerDataMsg, 0, 1, hydrix::comm::kWindowNotifyTimeoutMs);
        });
        std::thread driver([&] {
            s = DrivePrompts(
                pty.MasterFd(), prompts, pacing, lock, changed,
                [&](int i, uint64_t) { return arrivals.size() > static_cast<size_t>(i); },
                [&](int i) { return arrivals[static_cast<size_t>(i)]; });
            loop.Quit();
        });
        loop.Run();
        loop.ResetQuit();
        driver.join();
    }
    loop.DestroyWindow(window);
    ::close(fd);
    return s;
}

LatencyStats DispatcherLatency(int prompts, const Pacing& pacing, LatencyStats& early) {
    auto& loop = MessageLoop::Instance();
    hydrix::test::PtyPair pty;
    auto d = OpenDispatcher(pty);
    std::mutex lock;
    std::condition_variable changed;
    std::vector<SteadyClock::time_point> arrivals;
    std::vector<SteadyClock::time_point> atMethod;
    int dispTid = 0;
    uint64_t bytesRead = 0;
    bool offGuiThread = false;
    const auto guiThread = std::this_thread::get_id();

    // As the station has it: a case-sensitive data trigger on ">", the port's window
    // receiving every notification, and a method handler that reads the bytes on 32257.
    const int prompt = d->NewDataTrigger(">", false, 1);
    d->SetAvailThreshold(1);
    d->AttachMethodHandler(&bytesRead, [&](uint32_t msg, uint32_t count, int32_t) {
        if (msg == hydrix::comm::kTriggerDataMsg) {
            const auto now = SteadyClock::now();
            std::lock_guard guard(lock);
            atMethod.push_back(now);
            if (dispTid == 0) {
                dispTid = ::gettid();
            }
            return;
        }
        if (msg != hydrix::comm::kTriggerAvailMsg) {
            return;
        }
        uint8_t buffer[hydrix::comm::kInputRingSize];
        const int got = d->ReadBytes(buffer, static_cast<int>(count));
        std::lock_guard guard(lock);
        if (got > 0) {
            bytesRead += static_cast<uint64_t>(got);
        }
        changed.notify_all();
    });
    const auto window = loop.CreateWindow([&](uint32_t msg, hydrix::platform::WParam w, hydrix::platform::LParam) {
        const auto now = SteadyClock::now();
        std::lock_guard guard(lock);
        if (std::this_thread::get_id() != guiThread) {
            offGuiThread = true;
        }
        if (msg == hydrix::comm::kTriggerDataMsg && w == static_cast<hydrix::platform::WParam>(prompt)) {
            arrivals.push_back(now);
            changed.notify_all();
        }
        return hydrix::platform::LResult{0};
    });
    d->AttachWindowHandler(window);
    d->SetHandlerFlags(hydrix::comm::HandlerFlagsMode::kPortEvents);

    LatencyStats s;
    const auto tasksBefore = SampleTasks();
    const auto start = SteadyClock::now();
    std::thread driver([&] {
        // A prompt counts as handled once its trigger has reached the window and every
        // byte sent so far has been read.
        s = DrivePrompts(
            pty.MasterFd(), prompts, pacing, lock, changed,
            [&](int i, uint64_t sent) { return arrivals.size() > static_cast<size_t>(i) && bytesRead >= sent; },
            [&](int i) { return arrivals[static_cast<size_t>(i)]; });
        loop.Quit();
    });
    loop.Run();
    loop.ResetQuit();
    driver.join();
    const auto tasksAfter = SampleTasks();
    const double seconds = Seconds(SteadyClock::now() - start);
    d->DetachWindowHandler(window);
    d->DetachMethodHandler(&bytesRead);
    d.reset();
    loop.DestroyWindow(window);
    if (offGuiThread) {
        std::printf("  ERROR: a window notification ran off the GUI thread\n");
    }
    if (arrivals.size() > static_cast<size_t>(prompts)) {
        std::printf("  ERROR: %zu data triggers for %d prompts\n", arrivals.size(), prompts);
    }
    // The same prompts as first seen on the dispatcher thread (a method handler gets
    // 32258 before the window does): what the dispatcher adds before the GUI hand-off.
    for (size_t i = 0; i < s.sent.size() && i < atMethod.size(); ++i) {
        early.ms.push_back(Millis(atMethod[i] - s.sent[i]));
    }
    if (gDetail) {
        std::printf("    threads while the dispatcher took the prompts:\n");
        PrintTasks(tasksBefore, tasksAfter,
                   {{static_cast<int>(::gettid()), "GUI (main)"}, {dispTid, "dispatcher thread"}}, seconds);
    }
    return s;
}

bool RunLatency(int prompts, const Pacing& pacing) {
    std::printf("\n2. Trigger latency: %d prompts \">\" written to the master, %s, each awaited\n", prompts,
                pacing.name);
    const LatencyStats plain = PlainLatency(prompts, pacing);
    PrintLatency("plain poll()+read()", plain, false);
    const LatencyStats plainGui = PlainToGuiLatency(prompts, pacing);
    PrintLatency("plain + send to GUI window", plainGui, false);
    LatencyStats early;
    const LatencyStats disp = DispatcherLatency(prompts, pacing, early);
    PrintLatency("dispatcher, 32258 at window", disp, true);
    PrintLatency("  same, at dispatcher thread", early, false);
    return plain.lost == 0 && plainGui.lost == 0 && disp.lost == 0;
}

// 3. Idle cost --------------------------------------------------------------------------

// Runs the GUI thread's loop for the given time, as the station's main thread would.
void HoldFor(double seconds) {
    auto& loop = MessageLoop::Instance();
    std::thread timer([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        loop.Quit();
    });
    loop.Run();
    loop.ResetQuit();
    timer.join();
}

void PrintIdle(const char* name, const CpuSample& a, const CpuSample& b, bool judge) {
    const double wall = Seconds(b.wall - a.wall);
    const double pct = 100.0 * (b.cpu - a.cpu) / wall;
    std::printf("  %-34s cpu %6.3f s over %5.2f s = %5.2f%% of a core  %6.0f switches/s", name, b.cpu - a.cpu, wall,
                pct, static_cast<double>(b.switches - a.switches) / wall);
    if (judge) {
        std::printf("  (target < 1%%: %s)", pct < 1.0 ? "met" : "MISSED");
    }
    std::printf("\n");
}

bool RunIdle(double seconds) {
    std::printf("\n3. Idle cost: CPU of the whole process (getrusage), %.0f s per phase\n", seconds);
    const CpuSample base0 = CpuSample::Now();
    HoldFor(std::min(seconds, 3.0));
    const CpuSample base1 = CpuSample::Now();
    PrintIdle("no port open (baseline)", base0, base1, false);

    hydrix::test::PtyPair pty;
    auto d = OpenDispatcher(pty);
    HoldFor(0.2);
    const CpuSample a = CpuSample::Now();
    HoldFor(seconds);
    const CpuSample b = CpuSample::Now();
    PrintIdle("port open, no traffic", a, b, true);

    // Nothing reads and the avail threshold is 0: the ring fills and the rest stays in
    // the driver, where the com thread keeps finding it.
    const std::string fill(hydrix::comm::kInputRingSize + 4096, 'x');
    if (!pty.WriteMaster(fill, 5000)) {
        std::printf("  ERROR: could not write %zu bytes to the master\n", fill.size());
        return false;
    }
    const auto deadline = SteadyClock::now() + std::chrono::seconds(5);
    while (d->BytesAvailable() < static_cast<int>(hydrix::comm::kInputRingSize) && SteadyClock::now() < deadline) {
        HoldFor(0.01);
    }
    const int held = d->BytesAvailable();
    HoldFor(0.2);
    const CpuSample c = CpuSample::Now();
    HoldFor(seconds);
    const CpuSample e = CpuSample::Now();
    std::printf("  input ring holds %d of %u bytes (%zu written)\n", d->BytesAvailable(), hydrix::comm::kInputRingSize,
                fill.size());
    PrintIdle("port open, input ring full, unread", c, e, true);
    d.reset();
    return held == static_cast<int>(hydrix::comm::kInputRingSize);
}

bool Selected(const std::string& only, const char* part) {
    return only.empty() || only.find(part) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t megabytes = 64;
    int rounds = 3;
    int prompts = 1000;
    int quietPrompts = 200;
    double idleSeconds = 10;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* key) -> const char* {
            const size_t n = std::strlen(key);
            return arg.compare(0, n, key) == 0 ? arg.c_str() + n : nullptr;
        };
        if (const char* v = value("--mb=")) {
            megabytes = std::strtoull(v, nullptr, 10);
        } else if (const char* v = value("--rounds=")) {
            rounds = std::max(1, std::atoi(v));
        } else if (const char* v = value("--prompts=")) {
            prompts = std::max(1, std::atoi(v));
        } else if (const char* v = value("--quiet-prompts=")) {
            quietPrompts = std::max(1, std::atoi(v));
        } else if (const char* v = value("--idle=")) {
            idleSeconds = std::strtod(v, nullptr);
        } else if (const char* v = value("--only=")) {
            only = v;
        } else if (arg == "--detail") {
            gDetail = true;
        } else if (arg == "--skip-plain") {
            gSkipPlain = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--mb=64] [--rounds=3] [--prompts=1000] [--quiet-prompts=200] [--idle=10] "
                         "[--only=throughput,latency,idle] [--detail] [--skip-plain]\n",
                         argv[0]);
            return 2;
        }
    }

    MessageLoop::Instance().AttachToCurrentThread();
    std::printf("dispatcher bench on pseudo-terminals, %u cpus online\n",
                static_cast<unsigned>(std::thread::hardware_concurrency()));
    bool ok = true;
    if (Selected(only, "throughput")) {
        ok = RunThroughput(megabytes << 20, rounds) && ok;
    }
    if (Selected(only, "latency")) {
        ok = RunLatency(prompts, kBackToBack) && ok;
        ok = RunLatency(quietPrompts, kAsInstrument) && ok;
    }
    if (Selected(only, "idle")) {
        ok = RunIdle(idleSeconds) && ok;
    }
    std::printf("\n%s\n", ok ? "all data verified" : "SOME DATA WAS LOST OR WRONG");
    return ok ? 0 : 1;
}
