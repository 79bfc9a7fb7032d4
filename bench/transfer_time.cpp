// Real-time pacing of the two transfers against the simulated instrument: a
// single 256 KiB image through the dialog's update and a three-entry package
// through the package update. Prints each transfer's measured time divided by
// the least time its pauses allow, how far past its deadline each pause woke,
// and the processor time as a share of the wall time.
//
//   meterload_bench_time [target ratio]     (default 1.005)
#include "bench/bench_dialog.h"
#include "bench/bench_files.h"
#include "bench/bench_sim.h"
#include "bench/cpu_time.h"
#include "bench/pause_minimum.h"
#include "update/package_update.h"
#include "update/update_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace meterload::bench {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr double kCpuShareTarget = 0.05;
constexpr std::uint64_t kImageSize = 256 * 1024;
constexpr const char* kSerial = "ABC123";

struct PauseTally {
    long long pauses = 0;
    microseconds asked{0};  // what the pauses had left to wait when they were asked
    microseconds late{0};   // past the deadlines, all pauses together
    microseconds worstLate{0};
};

// The real clock, adding up the pauses asked of it and how far past its
// deadline each one woke.
class TallyClock final : public Clock {
public:
    void SleepUntil(microseconds deadline) override
    {
        const microseconds asked = deadline - SystemClock().Now();
        SystemClock().SleepUntil(deadline);
        if (asked.count() <= 0) {
            return;  // the deadline had passed: nothing to wait for
        }
        const microseconds late = SystemClock().Now() - deadline;
        ++tally_.pauses;
        tally_.asked += asked;
        tally_.late += late;
        tally_.worstLate = std::max(tally_.worstLate, late);
    }
    microseconds Now() const override { return SystemClock().Now(); }

    // The tally since the last call.
    PauseTally Take()
    {
        const PauseTally taken = tally_;
        tally_ = PauseTally{};
        return taken;
    }

private:
    PauseTally tally_;
};

struct Figure {
    const char* name;
    double measuredSeconds;
    milliseconds minimum;
    PauseTally pauses;
    microseconds cpu;
    bool succeeded;
};

// Measures `transfer` on `clock`: wall time, the pauses' tally and the
// processor time of the whole process (the simulated instrument runs inside
// it too).
template <typename Transfer>
Figure Measure(const char* name, TallyClock& clock, milliseconds minimum, Transfer transfer)
{
    clock.Take();
    const microseconds cpuBefore = ProcessCpuTime();
    const auto start = std::chrono::steady_clock::now();
    const bool succeeded = transfer();
    const double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const microseconds cpu = ProcessCpuTime() - cpuBefore;
    return {name, measured, minimum, clock.Take(), cpu, succeeded};
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

bool Print(const Figure& figure, double target)
{
    const double minimum = static_cast<double>(figure.minimum.count()) / 1000.0;
    const double ratio = figure.measuredSeconds / minimum;
    const double cpuShare = static_cast<double>(figure.cpu.count()) / 1e6 / figure.measuredSeconds;
    const PauseTally& pauses = figure.pauses;
    const double meanLateUs =
        pauses.pauses > 0 ? static_cast<double>(pauses.late.count()) / static_cast<double>(pauses.pauses) : 0.0;
    const double outside =
        figure.measuredSeconds - static_cast<double>(pauses.asked.count() + pauses.late.count()) / 1e6;
    std::printf("%-8s measured %8.3f s  minimum %8.3f s  ratio %.4f  (target <= %.3f: %s)%s\n", figure.name,
                figure.measuredSeconds, minimum, ratio, target, Verdict(ratio <= target),
                figure.succeeded ? "" : "  [transfer FAILED]");
    std::printf("%-8s %lld pauses: overshoot past the deadline %.1f us per pause (worst %.3f ms), %.3f s in all;"
                " outside the pauses %.3f s\n",
                "", pauses.pauses, meanLateUs, static_cast<double>(pauses.worstLate.count()) / 1000.0,
                static_cast<double>(pauses.late.count()) / 1e6, outside);
    std::printf("%-8s cpu %.3f s = %.2f %% of the wall time  (target < %.0f %%: %s)\n", "",
                static_cast<double>(figure.cpu.count()) / 1e6, 100.0 * cpuShare, 100.0 * kCpuShareTarget,
                Verdict(cpuShare < kCpuShareTarget));
    return figure.succeeded;
}

Figure TimeImage(BenchSim& sim, const std::string& dir)
{
    const std::string path = dir + "/image.bin";
    WriteImageFile(path, kImageSize);
    sim.Configure(std::string("serials=") + kSerial + "\nrecord=off\n");

    TallyClock clock;
    BenchDialog dialog(path);
    UpdateDriver driver(UpdateContext{dialog, clock, sim.LibraryPath()});
    driver.CheckInstrument();
    return Measure("image", clock, ImageMinimum(kImageSize), [&] {
        driver.OnOK();
        return dialog.LogText().find("update completed") != std::string::npos;
    });
}

Figure TimePackage(BenchSim& sim, const std::string& dir)
{
    // Entry 1's body ends in a chunk of 52, so the PadCommand goes out too.
    const std::vector<std::uint32_t> entrySizes = {kImageHeaderBytes + 200 * 240 + 52, 64 * 1024, 32 * 1024 + 52};
    const std::string path = dir + "/update.pak";
    WritePackageFile(path, entrySizes);
    sim.Configure(std::string("serials=") + kSerial + "\nrecord=off\n");

    TallyClock clock;
    BenchDialog dialog;
    UpdateContext context{dialog, clock, sim.LibraryPath()};
    return Measure("package", clock, PackageMinimum(entrySizes),
                   [&] { return InstallPackage(context, path, kSerial).stage == UpdateStage::Finished; });
}

}  // namespace
}  // namespace meterload::bench

int main(int argc, char** argv)
{
    using namespace meterload::bench;
    const double target = argc > 1 ? std::strtod(argv[1], nullptr) : 1.005;
    try {
        BenchSim sim;
        const std::string dir = MakeTempDir();
        std::printf("real-time transfers against the simulated ZQ6140 (%s)\n", sim.LibraryPath().c_str());
        const bool image = Print(TimeImage(sim, dir), target);
        const bool package = Print(TimePackage(sim, dir), target);
        RemoveTree(dir);
        return image && package ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
