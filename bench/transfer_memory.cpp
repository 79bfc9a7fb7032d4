// Peak memory of a single-image update on virtual time: run once per image
// size, each in its own process (scripts/bench.sh compares them), with the
// simulated instrument recording nothing. The image is streamed, so the peak
// must not depend on its size.
//
//   meterload_bench_memory <image size in MiB>
#include "bench/bench_dialog.h"
#include "bench/bench_files.h"
#include "bench/bench_sim.h"
#include "update/update_driver.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace meterload::bench {
namespace {

// Virtual time that keeps no record of its sleeps.
class QuietVirtualClock final : public Clock {
public:
    void SleepUntil(std::chrono::microseconds deadline) override
    {
        if (deadline > now_) {
            now_ = deadline;
        }
    }
    std::chrono::microseconds Now() const override { return now_; }

private:
    std::chrono::microseconds now_{1'000'000};
};

long PeakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // kibibytes on Linux
}

}  // namespace
}  // namespace meterload::bench

int main(int argc, char** argv)
{
    using namespace meterload;
    using namespace meterload::bench;
    const long mib = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (mib <= 0) {
        std::fprintf(stderr, "usage: %s <image size in MiB>\n", argv[0]);
        return 2;
    }
    try {
        BenchSim sim;
        QuietVirtualClock clock;
        sim.UseClock(clock);
        sim.Configure("serials=ABC123\nrecord=off\n");

        const std::string dir = MakeTempDir();
        const std::string path = dir + "/image.bin";
        WriteImageFile(path, static_cast<std::uint64_t>(mib) * 1024 * 1024);
        const long beforeKiB = PeakResidentKiB();

        BenchDialog dialog(path);
        UpdateDriver driver(UpdateContext{dialog, clock, sim.LibraryPath()});
        driver.CheckInstrument();
        const auto start = std::chrono::steady_clock::now();
        driver.OnOK();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peakKiB = PeakResidentKiB();
        RemoveTree(dir);

        const bool succeeded = dialog.LogText().find("update completed") != std::string::npos;
        std::printf("image %ld MiB: peak_rss_kib=%ld (before the update %ld)  virtual %.1f s  real %.2f s%s\n", mib,
                    peakKiB, beforeKiB, static_cast<double>(clock.Now().count()) / 1e6 - 1.0, seconds,
                    succeeded ? "" : "  [transfer FAILED]");
        return succeeded ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
