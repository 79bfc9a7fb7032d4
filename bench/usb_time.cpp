// Real-time pace of a 256 KiB image through the USB library against an
// emulated ZQ6140 (umockdev; the real libusb): the wall time divided by the
// least time the pauses allow plus the time spent inside the library's calls
// on the bus, which a real meter takes too. Prints that time per write beside
// it, and the processor share for information only: the emulated node is
// always ready for poll, so libusb spins while it waits.
//
//   meterload_bench_usb [target ratio]     (default 1.005)
#include "bench/bench_dialog.h"
#include "bench/bench_files.h"
#include "bench/cpu_time.h"
#include "bench/pause_minimum.h"
#include "platform/clock.h"
#include "tests/support/transcript.h"
#include "tests/usb/emulated_bus.h"
#include "update/update_driver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

namespace meterload::bench {
namespace {

constexpr std::uint64_t kImageSize = 256 * 1024;

struct BusTime {
    std::uint64_t writes = 0;
    std::uint64_t reads = 0;
    std::chrono::microseconds writeUs{0};
    std::chrono::microseconds readUs{0};
};

// The time spent inside the library's calls, from its own transcript.
BusTime TimeOnTheBus(const std::string& transcriptPath)
{
    std::ifstream in(transcriptPath);
    std::stringstream text;
    text << in.rdbuf();
    BusTime time;
    for (const testing::WireEvent& event : testing::ParseTranscript(text.str())) {
        const std::chrono::microseconds us(std::strtoll(event.Field("call_us").c_str(), nullptr, 10));
        if (event.name == "viWrite") {
            ++time.writes;
            time.writeUs += us;
        } else if (event.name == "viRead") {
            ++time.reads;
            time.readUs += us;
        }
    }
    return time;
}

}  // namespace
}  // namespace meterload::bench

int main(int argc, char** argv)
{
    using namespace meterload::bench;
    const double target = argc > 1 ? std::strtod(argv[1], nullptr) : 1.005;
    try {
        meterload::testing::EmulatedBus bus("serials=ABC123");
        if (!bus.Started()) {
            std::printf("usb      not run: umockdev cannot start here (%s)\n", bus.WhyNotStarted().c_str());
            return 0;
        }
        const std::string dir = MakeTempDir();
        const std::string image = dir + "/image.bin";
        const std::string transcript = dir + "/usb-transcript.txt";
        WriteImageFile(image, kImageSize);
        ::setenv("METERLOAD_USBTMC_TRANSCRIPT", transcript.c_str(), 1);

        BenchDialog dialog(image);
        meterload::UpdateDriver driver(meterload::UpdateContext{dialog, meterload::SystemClock(), USBTMC_LIBRARY_PATH});
        driver.CheckInstrument();
        const std::chrono::microseconds cpuBefore = ProcessCpuTime();
        const auto start = std::chrono::steady_clock::now();
        driver.OnOK();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = static_cast<double>((ProcessCpuTime() - cpuBefore).count()) / 1e6;
        const bool succeeded = dialog.LogText().find("update completed") != std::string::npos;

        // The update's calls only: the check before it is not timed.
        const BusTime bus_time = TimeOnTheBus(transcript);
        const double minimum = static_cast<double>(ImageMinimum(kImageSize).count()) / 1000.0;
        const double inside = static_cast<double>((bus_time.writeUs + bus_time.readUs).count()) / 1e6;
        const double ratio = wall / (minimum + inside);
        std::printf("usb      measured %8.3f s  minimum %8.3f s + inside the library %.3f s  ratio %.4f"
                    "  (target <= %.3f: %s)%s\n",
                    wall, minimum, inside, ratio, target, ratio <= target ? "met" : "MISSED",
                    succeeded ? "" : "  [transfer FAILED]");
        std::printf("usb      inside the library: %llu writes, %.1f us per write; %llu reads, %.1f us per read\n",
                    static_cast<unsigned long long>(bus_time.writes),
                    bus_time.writes > 0 ? static_cast<double>(bus_time.writeUs.count()) /
                                              static_cast<double>(bus_time.writes)
                                        : 0.0,
                    static_cast<unsigned long long>(bus_time.reads),
                    bus_time.reads > 0 ? static_cast<double>(bus_time.readUs.count()) /
                                             static_cast<double>(bus_time.reads)
                                       : 0.0);
        std::printf("usb      cpu %.3f s = %.2f %% of the wall time (information only: the emulated bus spins)\n",
                    cpu, 100.0 * cpu / wall);
        RemoveTree(dir);
        return succeeded && ratio <= target ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
