// Real-time pace of a 256 KiB image through the USB library against emulated
// ZQ6140s (umockdev; the real libusb): one meter, then 16 at once, both as
// threads of one process (one library, one call lock: as
// `meterload-cli install --all` runs them) and as 16 processes of one meter
// each (nothing of ours shared; only the emulator, whose one thread answers
// every usbfs call of every meter). Each meter's pace is its wall time over
// the least time its pauses allow, with and without the time spent inside
// the library's calls (which a real meter's bus takes too). The processor
// share is for information only: the emulated node is always ready for poll,
// so libusb spins while it waits.
//
//   meterload_bench_usb [target ratio] [meters]     (defaults 1.005, 16)
//   meterload_bench_usb --child SERIAL IMAGE        (one meter, for the process runs)
#include "bench/bench_dialog.h"
#include "bench/bench_files.h"
#include "bench/cpu_time.h"
#include "bench/pause_minimum.h"
#include "platform/clock.h"
#include "tests/support/transcript.h"
#include "tests/usb/emulated_bus.h"
#include "update/update_driver.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace meterload::bench {
namespace {

constexpr std::uint64_t kImageSize = 256 * 1024;

struct BusTime {
    std::uint64_t writes = 0;
    std::uint64_t reads = 0;
    std::chrono::microseconds writeUs{0};
    std::chrono::microseconds readUs{0};
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The time one meter's calls spent inside the library, from its transcript.
BusTime TimeOnTheBus(const std::string& transcriptText, const std::string& serial)
{
    BusTime time;
    for (const testing::WireEvent& event : testing::ParseTranscript(transcriptText)) {
        if (event.Field("serial") != serial) {
            continue;
        }
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

// One meter's update: its wall time, false when it did not complete.
bool UpdateOne(const std::string& image, const std::string& serial, double& wall)
{
    BenchDialog dialog(image);
    UpdateDriver driver(UpdateContext{dialog, SystemClock(), USBTMC_LIBRARY_PATH, serial});
    driver.CheckInstrument();
    const auto start = std::chrono::steady_clock::now();
    driver.OnOK();
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return dialog.LogText().find("update completed") != std::string::npos;
}

std::string SerialOf(int index)
{
    char serial[16];
    std::snprintf(serial, sizeof serial, "USB%03d", index + 1);
    return serial;
}

struct Meter {
    bool succeeded = false;
    double wall = 0.0;
    BusTime bus;
};

// `count` meters at once on threads of this process, sharing the library.
std::vector<Meter> RunThreads(int count, const std::string& image)
{
    std::vector<Meter> meters(static_cast<std::size_t>(count));
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&meters, &image, i] {
            Meter& meter = meters[static_cast<std::size_t>(i)];
            meter.succeeded = UpdateOne(image, SerialOf(i), meter.wall);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return meters;
}

// `count` meters at once, each in a process of its own with its own library.
std::vector<Meter> RunProcesses(int count, const std::string& self, const std::string& image, const std::string& dir,
                                const std::string& root)
{
    std::vector<pid_t> children;
    std::fflush(stdout);  // or each child writes again what this process has not yet written
    for (int i = 0; i < count; ++i) {
        const std::string serial = SerialOf(i);
        const std::string transcript = dir + "/child-" + serial + ".txt";
        const std::string out = dir + "/child-" + serial + ".out";
        const pid_t pid = fork();
        if (pid < 0) {
            throw std::runtime_error("fork failed");
        }
        if (pid == 0) {
            ::setenv("UMOCKDEV_DIR", root.c_str(), 1);
            ::setenv("METERLOAD_USBTMC_TRANSCRIPT", transcript.c_str(), 1);
            if (std::freopen(out.c_str(), "w", stdout) == nullptr) {
                _exit(126);
            }
            execl(self.c_str(), self.c_str(), "--child", serial.c_str(), image.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(pid);
    }
    std::vector<Meter> meters(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        int status = 0;
        waitpid(children[static_cast<std::size_t>(i)], &status, 0);
        Meter& meter = meters[static_cast<std::size_t>(i)];
        const std::string serial = SerialOf(i);
        meter.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        meter.wall = std::strtod(ReadAll(dir + "/child-" + serial + ".out").c_str(), nullptr);
        meter.bus = TimeOnTheBus(ReadAll(dir + "/child-" + serial + ".txt"), serial);
    }
    return meters;
}

double Inside(const BusTime& time)
{
    return static_cast<double>((time.writeUs + time.readUs).count()) / 1e6;
}

// Prints one way of running the meters; gives the worst meter's pace with
// the library's time counted as the bus's.
double Report(const char* label, const std::vector<Meter>& meters, double minimum, double modeWall,
              const testing::EmulatedBus::Load& before, const testing::EmulatedBus::Load& after, bool& succeeded)
{
    double worstWith = 0.0;
    double worstWithout = 0.0;
    double wall = 0.0;
    double inside = 0.0;
    double gapMs = 0.0;
    double insidePerWriteUs = 0.0;
    for (const Meter& meter : meters) {
        succeeded = succeeded && meter.succeeded;
        worstWith = std::max(worstWith, meter.wall / (minimum + Inside(meter.bus)));
        worstWithout = std::max(worstWithout, meter.wall / minimum);
        wall += meter.wall;
        inside += Inside(meter.bus);
        const double writes = static_cast<double>(meter.bus.writes);
        gapMs += writes > 0 ? 1000.0 * meter.wall / writes : 0.0;
        insidePerWriteUs += writes > 0 ? static_cast<double>(meter.bus.writeUs.count()) / writes : 0.0;
    }
    const double n = static_cast<double>(meters.size());
    const double calls = static_cast<double>(after.calls - before.calls);
    const double busy = std::chrono::duration<double>(after.busy - before.busy).count();
    const double emulatorCpu = std::chrono::duration<double>(after.threadCpu - before.threadCpu).count();
    std::printf("usb      %-22s wall %7.3f s  inside the library %7.3f s  per meter; gap between writes %.1f ms,"
                " %.0f us of it inside viWrite\n",
                label, wall / n, inside / n, gapMs / n, insidePerWriteUs / n);
    std::printf("usb      %-22s pace (worst meter): %.4f without the library's time, %.4f with it counted as the"
                " bus's%s\n",
                label, worstWithout, worstWith, succeeded ? "" : "  [transfer FAILED]");
    std::printf("usb      %-22s emulator: %.0f usbfs calls on its one thread, busy %.1f %% of the %.3f s"
                " (%.1f %% inside the bus's answers)\n",
                label, calls, 100.0 * emulatorCpu / modeWall, modeWall, 100.0 * busy / modeWall);
    return worstWith;
}

int Child(const std::string& serial, const std::string& image)
{
    double wall = 0.0;
    const bool succeeded = UpdateOne(image, serial, wall);
    std::printf("%.6f\n", wall);
    return succeeded ? 0 : 1;
}

std::unique_ptr<testing::EmulatedBus> BusOf(int count)
{
    std::string serials;
    for (int i = 0; i < count; ++i) {
        serials += (i == 0 ? "" : ",") + SerialOf(i);
    }
    return std::make_unique<testing::EmulatedBus>("serials=" + serials);
}

}  // namespace
}  // namespace meterload::bench

int main(int argc, char** argv)
{
    using namespace meterload::bench;
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        return Child(argv[2], argv[3]);
    }
    const double target = argc > 1 ? std::strtod(argv[1], nullptr) : 1.005;
    const int many = argc > 2 ? std::atoi(argv[2]) : 16;
    if (many < 2 || many > 16) {
        std::fprintf(stderr, "usage: %s [target ratio] [meters, 2 to 16]\n", argv[0]);
        return 2;
    }
    try {
        const std::string dir = MakeTempDir();
        const std::string image = dir + "/image.bin";
        const std::string transcript = dir + "/usb-transcript.txt";
        WriteImageFile(image, kImageSize);
        ::setenv("METERLOAD_USBTMC_TRANSCRIPT", transcript.c_str(), 1);
        const double minimum = static_cast<double>(ImageMinimum(kImageSize).count()) / 1000.0;
        std::printf("usb      a %llu KiB image, least time its pauses allow %.3f s per meter\n",
                    static_cast<unsigned long long>(kImageSize / 1024), minimum);
        bool succeeded = true;

        // One meter: the figure the others are compared with. A bus of its
        // own for each run: an updated meter would refuse the image again.
        double ratio = 0.0;
        {
            const auto bus = BusOf(1);
            if (!bus->Started()) {
                std::printf("usb      not run: umockdev cannot start here (%s)\n", bus->WhyNotStarted().c_str());
                RemoveTree(dir);
                return 0;
            }
            const auto load = bus->HandlerLoad();
            const std::chrono::microseconds cpuBefore = ProcessCpuTime();
            Meter one;
            one.succeeded = UpdateOne(image, SerialOf(0), one.wall);
            const double cpu = static_cast<double>((ProcessCpuTime() - cpuBefore).count()) / 1e6;
            one.bus = TimeOnTheBus(ReadAll(transcript), SerialOf(0));
            ratio = Report("one meter", {one}, minimum, one.wall, load, bus->HandlerLoad(), succeeded);
            std::printf("usb      one meter: ratio %.4f  (target <= %.3f: %s); cpu %.3f s = %.2f %% of the wall time"
                        " (information only: the emulated bus spins)\n",
                        ratio, target, ratio <= target ? "met" : "MISSED", cpu, 100.0 * cpu / one.wall);
        }

        // Many at once, sharing one library.
        double together = 0.0;
        {
            const auto bus = BusOf(many);
            std::ofstream(transcript, std::ios::trunc).close();
            const auto load = bus->HandlerLoad();
            const auto started = std::chrono::steady_clock::now();
            std::vector<Meter> threads = RunThreads(many, image);
            const double modeWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const std::string threadTranscript = ReadAll(transcript);
            for (int i = 0; i < many; ++i) {
                threads[static_cast<std::size_t>(i)].bus = TimeOnTheBus(threadTranscript, SerialOf(i));
            }
            const std::string label = std::to_string(many) + " meters, 1 process";
            together = Report(label.c_str(), threads, minimum, modeWall, load, bus->HandlerLoad(), succeeded);
        }

        // Many at once, nothing of ours shared: each with its own library.
        double apart = 0.0;
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
            const auto bus = BusOf(many);
            const auto load = bus->HandlerLoad();
            const auto started = std::chrono::steady_clock::now();
            const std::vector<Meter> processes = RunProcesses(many, self, image, dir, bus->RootDirectory());
            const double modeWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const std::string label = std::to_string(many) + " meters, " + std::to_string(many) + " procs";
            apart = Report(label.c_str(), processes, minimum, modeWall, load, bus->HandlerLoad(), succeeded);
        }
        // Whose the slowdown is: with nothing of ours shared, the processes
        // pay only the emulator's and the machine's share.
        std::printf("usb      %d meters at once against one, the library's time counted as the bus's: %.4f in one"
                    " process (target <= 1.01: %s), %.4f in %d processes: %s\n",
                    many, together / ratio, together / ratio <= 1.01 ? "met" : "MISSED", apart / ratio, many,
                    apart <= 0.0               ? "not measured"
                    : together <= apart * 1.01 ? "no slower than with nothing of ours shared; the rest is the"
                                                 " emulator's and the machine's"
                                               : "slower than with nothing of ours shared: the library's");
        RemoveTree(dir);
        return succeeded && ratio <= target ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
