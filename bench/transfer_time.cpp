// Real-time pacing of the two transfers against the simulated instrument: a
// single 256 KiB image through the dialog's update and a three-entry package
// through the package update. Prints each transfer's measured time divided by
// the least time its pauses allow; the target is at most 1.02.
#include "bench/bench_dialog.h"
#include "bench/bench_files.h"
#include "bench/bench_sim.h"
#include "link/update_link.h"
#include "update/package_update.h"
#include "update/update_driver.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace meterload::bench {
namespace {

using std::chrono::milliseconds;

constexpr double kTarget = 1.02;
constexpr std::uint64_t kImageSize = 256 * 1024;
constexpr std::uint32_t kHeaderSize = 50;
constexpr const char* kSerial = "ABC123";

// The real clock, adding up what was asked of it and how long its sleeps
// really took.
class TallyClock final : public Clock {
public:
    void Sleep(milliseconds duration) override
    {
        asked_ += duration;
        const auto start = SystemClock().Now();
        SystemClock().Sleep(duration);
        slept_ += SystemClock().Now() - start;
    }
    std::chrono::microseconds Now() const override { return SystemClock().Now(); }
    milliseconds Asked() const { return asked_; }
    std::chrono::microseconds Slept() const { return slept_; }

private:
    milliseconds asked_{0};
    std::chrono::microseconds slept_{0};
};

constexpr milliseconds kWrite{10};
constexpr milliseconds kCommandPause{30};

// Identification: "L0\n" and "*idn?\n", each a write and a 30 ms pause.
milliseconds IdentificationMinimum()
{
    return 2 * (kWrite + kCommandPause);
}

milliseconds ImageMinimum(std::uint64_t imageSize)
{
    const ChunkPlan plan = PlanChunks(imageSize - kHeaderSize);
    const std::uint64_t writes = plan.fullChunks + (plan.lastChunk > 0 ? 1 : 0);
    milliseconds total = IdentificationMinimum();
    total += kWrite;                                       // "system:update\n"
    total += milliseconds(2000) + milliseconds(2000);      // before and after the header check
    total += static_cast<std::int64_t>(writes) * (milliseconds(5) + kWrite);
    if (NeedsPadCommand(plan.lastChunk)) {
        total += kWrite;
    }
    total += milliseconds(1000) + kWrite + milliseconds(1000);  // reply, EndFrame, reply
    return total;
}

milliseconds PackageMinimum(const std::vector<std::uint32_t>& entrySizes)
{
    milliseconds total = IdentificationMinimum();
    total += kWrite + milliseconds(4000);  // "system:update\n" and the settle
    for (std::size_t n = 1; n < entrySizes.size(); ++n) {
        const ChunkPlan plan = PlanChunks(entrySizes[n]);
        total += static_cast<std::int64_t>(plan.fullChunks) * (milliseconds(20) + kWrite);
        total += plan.lastChunk > 0 ? kWrite : milliseconds(0);
        total += milliseconds(2000) + kWrite;  // reply wait, EndFrame
    }
    const ChunkPlan lead = PlanChunks(entrySizes.front() - kHeaderSize);
    total += milliseconds(10);  // after skipping the header
    total += static_cast<std::int64_t>(lead.fullChunks) * (milliseconds(10) + kWrite);
    total += lead.lastChunk > 0 ? kWrite : milliseconds(0);
    total += NeedsPadCommand(lead.lastChunk) ? kWrite : milliseconds(0);
    total += milliseconds(1000) + kWrite;
    return total;
}

struct Figure {
    const char* name;
    double measuredSeconds;
    milliseconds minimum;
    milliseconds asked;
    std::chrono::microseconds slept;  // real time spent inside the sleeps
    bool succeeded;
};

void Print(const Figure& figure)
{
    const double minimum = static_cast<double>(figure.minimum.count()) / 1000.0;
    const double ratio = figure.measuredSeconds / minimum;
    const double slept = static_cast<double>(figure.slept.count()) / 1e6;
    std::printf("%-8s measured %8.3f s  minimum %8.3f s  ratio %.4f  (target <= %.2f: %s)%s\n", figure.name,
                figure.measuredSeconds, minimum, ratio, kTarget, ratio <= kTarget ? "met" : "MISSED",
                figure.succeeded ? "" : "  [transfer FAILED]");
    std::printf("%-8s pauses asked %8.3f s, slept %8.3f s (overshoot %.3f s); outside the pauses %.3f s\n", "",
                static_cast<double>(figure.asked.count()) / 1000.0, slept,
                slept - static_cast<double>(figure.asked.count()) / 1000.0, figure.measuredSeconds - slept);
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    const milliseconds askedBefore = clock.Asked();
    const auto sleptBefore = clock.Slept();
    const auto start = std::chrono::steady_clock::now();
    driver.OnOK();
    const double measured = SecondsSince(start);
    const bool succeeded = dialog.LogText().find("update completed") != std::string::npos;
    return {"image", measured, ImageMinimum(kImageSize), clock.Asked() - askedBefore,
            clock.Slept() - sleptBefore, succeeded};
}

Figure TimePackage(BenchSim& sim, const std::string& dir)
{
    // Entry 1's body ends in a chunk of 52, so the PadCommand goes out too.
    const std::vector<std::uint32_t> entrySizes = {kHeaderSize + 200 * 240 + 52, 64 * 1024,
                                                   32 * 1024 + 52};
    const std::string path = dir + "/update.pak";
    WritePackageFile(path, entrySizes);
    sim.Configure(std::string("serials=") + kSerial + "\nrecord=off\n");

    TallyClock clock;
    BenchDialog dialog;
    UpdateContext context{dialog, clock, sim.LibraryPath()};
    const auto start = std::chrono::steady_clock::now();
    const int result = InstallPackage(context, path, dir + "/@" + kSerial);
    const double measured = SecondsSince(start);
    return {"package", measured, PackageMinimum(entrySizes), clock.Asked(), clock.Slept(), result == 0};
}

}  // namespace
}  // namespace meterload::bench

int main()
{
    using namespace meterload::bench;
    try {
        BenchSim sim;
        const std::string dir = MakeTempDir();
        std::printf("real-time transfers against the simulated ZQ6140 (%s)\n", sim.LibraryPath().c_str());
        const Figure image = TimeImage(sim, dir);
        Print(image);
        const Figure package = TimePackage(sim, dir);
        Print(package);
        RemoveTree(dir);
        return image.succeeded && package.succeeded ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
