// Helpers of the dispatcher bench on the far side of the line: pattern streams written
// into a pty master and checked where they come out, plain poll()+read() readers of the
// slave, and the process's and threads' cpu figures.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hydrix::bench {

using SteadyClock = std::chrono::steady_clock;

inline constexpr size_t kWriteChunk = 64 * 1024;
inline constexpr size_t kPlainReadSize = 4096;
inline constexpr uint32_t kPatternPeriod = 251;  // prime: no read or write size lines up with it
inline constexpr int kStallMs = 20000;           // a flood that makes no progress this long has failed

inline double Seconds(SteadyClock::duration d) {
    return std::chrono::duration<double>(d).count();
}
inline double Millis(SteadyClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Byte i of every stream is i % 251; a reference twice the write size lets any chunk be
// written or checked with one call.
inline const uint8_t* PatternAt(uint64_t offset) {
    static const std::vector<uint8_t> ref = [] {
        std::vector<uint8_t> v(2 * kWriteChunk + kPatternPeriod);
        for (size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<uint8_t>(i % kPatternPeriod);
        }
        return v;
    }();
    return ref.data() + offset % kPatternPeriod;
}

// Counts received bytes and remembers where the stream first differs from the pattern.
struct PatternSink {
    uint64_t received = 0;
    uint64_t firstBad = UINT64_MAX;
    uint64_t chunks = 0;

    void Take(const uint8_t* data, size_t n) {
        const uint8_t* want = PatternAt(received);
        if (firstBad == UINT64_MAX && std::memcmp(data, want, n) != 0) {
            size_t i = 0;
            while (data[i] == want[i]) {
                ++i;
            }
            firstBad = received + i;
        }
        received += n;
        ++chunks;
    }
};

struct CpuSample {
    double cpu = 0;  // user + sys, seconds, all threads
    long switches = 0;
    SteadyClock::time_point wall;

    static CpuSample Now() {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        CpuSample s;
        s.cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        s.switches = u.ru_nvcsw + u.ru_nivcsw;
        s.wall = SteadyClock::now();
        return s;
    }
};

// Per-thread scheduler figures from /proc/self/task/*/schedstat: time on a cpu, time
// runnable but waiting for one, and the number of times the thread was put on a cpu.
struct TaskTimes {
    double runMs = 0;
    double waitMs = 0;
    long slices = 0;
};

inline std::map<int, TaskTimes> SampleTasks() {
    std::map<int, TaskTimes> tasks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(entry.path() / "schedstat");
        unsigned long long run = 0, wait = 0, slices = 0;
        if (in >> run >> wait >> slices) {
            tasks[std::stoi(entry.path().filename().string())] =
                TaskTimes{static_cast<double>(run) / 1e6, static_cast<double>(wait) / 1e6, static_cast<long>(slices)};
        }
    }
    return tasks;
}

// The threads that ran between two samples, named where the caller knows them; the
// others take the fallback names in order of creation (thread ids grow).
inline void PrintTasks(const std::map<int, TaskTimes>& before, const std::map<int, TaskTimes>& after,
                       const std::map<int, std::string>& names, double seconds,
                       const std::vector<std::string>& fallback = {"com thread", "output thread"}) {
    size_t unnamed = 0;
    for (const auto& [tid, a] : after) {
        const auto it = before.find(tid);
        const TaskTimes b = it == before.end() ? TaskTimes{} : it->second;
        const auto name = names.find(tid);
        std::string label = name != names.end()         ? name->second
                            : unnamed < fallback.size() ? fallback[unnamed++]
                                                        : "thread " + std::to_string(++unnamed);
        std::printf("      %-18s cpu %7.1f ms  waiting for a cpu %7.1f ms  %6.0f runs/s\n", label.c_str(),
                    a.runMs - b.runMs, a.waitMs - b.waitMs, static_cast<double>(a.slices - b.slices) / seconds);
    }
}

inline int OpenPlainSlave(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "open %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(2);
    }
    return fd;
}

// Writes total bytes to the (non-blocking) master in kWriteChunk writes, as fast as the
// pty takes them; at(offset) gives the bytes from offset on (at least kWriteChunk of them
// or up to the end), and *progress, when given, follows the count written.
template <typename Source>
bool FloodFrom(int masterFd, uint64_t total, Source at, std::atomic<uint64_t>* progress = nullptr) {
    uint64_t sent = 0;
    while (sent < total) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kWriteChunk, total - sent));
        const ssize_t n = ::write(masterFd, at(sent), want);
        if (n > 0) {
            sent += static_cast<uint64_t>(n);
            if (progress != nullptr) {
                progress->store(sent, std::memory_order_relaxed);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            std::fprintf(stderr, "flood write: %s\n", std::strerror(errno));
            return false;
        }
        pollfd p{masterFd, POLLOUT, 0};
        int r;
        do {
            r = ::poll(&p, 1, kStallMs);
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            std::fprintf(stderr, "flood stalled at %llu of %llu bytes\n", static_cast<unsigned long long>(sent),
                         static_cast<unsigned long long>(total));
            return false;
        }
    }
    return true;
}

// Writes total pattern bytes.
inline bool Flood(int masterFd, uint64_t total) {
    return FloodFrom(masterFd, total, PatternAt);
}

inline bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

// A plain reader thread: poll() and read() on the slave, stamping each prompt as read.
class PlainReader {
public:
    PlainReader(int fd, std::mutex& lock, std::condition_variable& changed, std::function<void()> onPrompt = {})
        : fd_(fd), lock_(lock), changed_(changed), onPrompt_(std::move(onPrompt)), thread_([this] { Run(); }) {}
    ~PlainReader() {
        stop_ = true;
        thread_.join();
    }
    std::vector<SteadyClock::time_point> arrivals;  // under lock

private:
    void Run() {
        uint8_t buffer[kPlainReadSize];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            const auto now = SteadyClock::now();
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '>') {
                    continue;
                }
                if (onPrompt_) {
                    onPrompt_();
                } else {
                    std::lock_guard guard(lock_);
                    arrivals.push_back(now);
                    changed_.notify_all();
                }
            }
        }
    }

    int fd_;
    std::mutex& lock_;
    std::condition_variable& changed_;
    std::function<void()> onPrompt_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace hydrix::bench
