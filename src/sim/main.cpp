// adcp-sim: an ADCP instrument on a pseudo-terminal (or on a serial device, --device) for
// the station to talk to. Prints the line's path on standard output, then plays the
// instrument until the station closes the line or SIGTERM/SIGINT arrives.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "sim/instrument.h"
#include "sim/line_driver.h"
#include "sim/sim_device.h"
#include "sim/sim_options.h"
#include "sim/sim_pty.h"

namespace {

std::atomic<hydrix::sim::LineDriver*> g_driver{nullptr};

void OnSignal(int) {
    if (auto* driver = g_driver.load()) {
        driver->Stop();
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace hydrix::sim;
    const ParseResult parsed = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "adcp-sim: %s\n%s", parsed.error.c_str(), SimUsage().c_str());
        return 2;
    }
    const SimOptions& options = parsed.options;

    SimPty pty;
    SimDevice device;
    const bool onDevice = !options.device.empty();
    if (onDevice ? device.Open(options.device, options.baud) != 0 : pty.Open() != 0) {
        std::fprintf(stderr, "adcp-sim: %s\n", (onDevice ? device.Error() : pty.Error()).c_str());
        return 1;
    }
    ComLink link;
    if (options.linkCom > 0 &&
        link.Create(hydrix::platform::SettingsStore::DefaultPrefix(), options.linkCom, pty.SlavePath()) != 0) {
        std::fprintf(stderr, "adcp-sim: %s\n", link.Error().c_str());
        return 1;
    }

    Instrument instrument(options);
    LineDriver driver(instrument, onDevice ? device.Fd() : pty.MasterFd(), options);
    g_driver = &driver;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", onDevice ? options.device.c_str() : pty.SlavePath().c_str());
    std::fflush(stdout);

    const int rc = driver.Run();
    g_driver = nullptr;
    if (rc != 0) {
        std::fprintf(stderr, "adcp-sim: %s\n", driver.Error().c_str());
        return 1;
    }
    return 0;
}
