// The instrument unplugged in the middle of a single-image or a package
// update: the failure texts, how long after the unplug they come on the
// virtual clock (bounded by a clean run of the same update plus the
// connection's timeout, so no step waits past its timeout), the connection let
// go, and "Continue" finding the instrument once it is back.
#include "tests/update/library_tracking.h"
#include "tests/update/update_flow_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>

namespace meterload::testing {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using ::testing::ElementsAreArray;

constexpr milliseconds kConnectionTimeout{10000};

enum class Comeback { PluggedIn, PowerCycled };

struct UnplugCase {
    const char* name;
    bool package;
    std::string unplug;    // the simulator's unplug setting (and any reply script)
    std::size_t bodySize;  // of the single image, or of each package entry
    Comeback comeback;
};

std::ostream& operator<<(std::ostream& out, const UnplugCase& c)
{
    return out << c.name;
}

// The worst time from unplug to failure text of the cases run, printed at
// the end of the run.
class WorstTime : public ::testing::Environment {
public:
    static void Note(const std::string& name, milliseconds time)
    {
        if (time > worst_) {
            worst_ = time;
            worstName_ = name;
        }
    }
    void TearDown() override
    {
        if (!worstName_.empty()) {
            std::printf("worst time from unplug to failure text: %lld ms (%s)\n",
                        static_cast<long long>(worst_.count()), worstName_.c_str());
        }
    }

private:
    static inline milliseconds worst_{0};
    static inline std::string worstName_;
};

[[maybe_unused]] ::testing::Environment* const kWorstTime = ::testing::AddGlobalTestEnvironment(new WorstTime);

class UnplugUpdateTest : public UpdateFlowTest, public ::testing::WithParamInterface<UnplugCase> {
protected:
    std::string WriteUpdateFile()
    {
        const UnplugCase& c = GetParam();
        ImageSpec lead;
        lead.bodySize = c.bodySize;
        if (!c.package) {
            return WriteImage("main.bin", lead);
        }
        PackageBuilder package;
        package.Image(ImageBytes(lead), "main.bin");
        package.Image(ImageBody(c.bodySize, 2), "panel.bin");
        package.Image(ImageBody(c.bodySize, 3), "msp.bin");
        return WriteFile("fw.pak", package.Build());
    }

    // Runs one update of `path` and gives the virtual time at which the
    // failure text appeared (nothing when the update succeeded).
    std::optional<microseconds> RunUpdate(const std::string& path)
    {
        std::optional<microseconds> failedAt;
        dialog.SetPumpHook([&] {
            if (!failedAt && dialog.LogText().find("firmware update failure!") != std::string::npos) {
                failedAt = clock.Now();
            }
        });
        StartReady();
        Press(path);
        dialog.SetPumpHook(nullptr);
        return failedAt;
    }

    std::vector<std::string> ExpectedLog(const std::string& fileName) const
    {
        std::vector<std::string> lines;
        if (GetParam().package) {
            lines = {"Serial No: ABC123", "Please wait ..."};
        }
        for (const std::string& line : FailureLines(fileName)) {
            lines.push_back(line);
        }
        return lines;
    }
};

TEST_P(UnplugUpdateTest, FailsSoonAfterTheUnplugAndFindsTheInstrumentOnceItIsBack)
{
    const UnplugCase& c = GetParam();
    const std::string path = WriteUpdateFile();
    const std::string fileName = c.package ? "fw.pak" : "main.bin";

    // A clean run of the same update: how long the rest of it can take.
    Configure();
    const microseconds cleanStart = clock.Now();
    ASSERT_FALSE(RunUpdate(path)) << "the clean run failed: " << dialog.EventLog();
    const microseconds cleanRun = clock.Now() - cleanStart;

    Configure(c.unplug);
    const std::optional<microseconds> failedAt = RunUpdate(path);
    const auto unplugs = sim.Events("unplug");
    ASSERT_EQ(unplugs.size(), 1u) << "the instrument was not unplugged\n" << sim.TranscriptText();
    ASSERT_TRUE(failedAt) << "no failure text\n" << dialog.EventLog();

    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(ExpectedLog(fileName)));
    EXPECT_TRUE(dialog.MessageBoxes().empty()) << dialog.EventLog();
    EXPECT_EQ(LibraryTracking::Held(), 0) << "the connection still holds the VISA library";
    const auto toFailure =
        std::chrono::duration_cast<milliseconds>(*failedAt - microseconds(static_cast<long long>(unplugs[0].time)));
    EXPECT_LE(toFailure, std::chrono::duration_cast<milliseconds>(cleanRun) + kConnectionTimeout);
    WorstTime::Note(c.name, toFailure);
    RecordProperty("unplug_to_failure_ms", static_cast<int>(toFailure.count()));
    std::printf("%s: %lld ms from unplug to failure text\n", c.name, static_cast<long long>(toFailure.count()));

    // Continue, once the instrument is back, checks it and offers Select.
    if (c.comeback == Comeback::PluggedIn) {
        sim.PlugIn();
    } else {
        sim.PowerCycle();
    }
    driver.OnOK();
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(HintLines()));
    EXPECT_TRUE(driver.Ready());
    EXPECT_EQ(dialog.Caption(kSelectButton), "Select");
    EXPECT_TRUE(dialog.Enabled(kSelectButton));

    // Back in update mode it asks for a power cycle; power-cycled it is
    // identified as before.
    Press(std::nullopt);
    const std::vector<std::string> next =
        c.comeback == Comeback::PluggedIn
            ? std::vector<std::string>{"Incorrect mode. Please recycle power on instrument and",
                                       "click \"Select\" to try again."}
            : std::vector<std::string>{"User Abort..."};
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(next));
}

// Each package entry below is 2000 bytes; 2000 bytes of image body for the
// single image. The settle after "system:update\n" is 4 s in the package
// update, 2 s + 2 s around the file checks in the single-image update; a reply
// that never comes is waited for 10 s.
INSTANTIATE_TEST_SUITE_P(
    Points, UnplugUpdateTest,
    ::testing::Values(
        UnplugCase{"ImageRightAfterSystemUpdate", false, "unplug_after_ms=0", 2000, Comeback::PowerCycled},
        UnplugCase{"ImageDuringTheSettle", false, "unplug_after_ms=1000", 2000, Comeback::PluggedIn},
        UnplugCase{"ImageAfterSomeBytes", false, "unplug_after_bytes=1000", 2000, Comeback::PowerCycled},
        UnplugCase{"ImageAtItsFirstByte", false, "unplug_after_bytes=0", 2000, Comeback::PluggedIn},
        UnplugCase{"ImageWhileItsReplyIsAwaited", false, "unplug_after_bytes=2000", 2000, Comeback::PowerCycled},
        UnplugCase{"ImageDuringASilentReply", false, "replies=none\nunplug_after_ms=8000", 240, Comeback::PluggedIn},
        UnplugCase{"ImageAfterItsEndFrame", false, "unplug_after_images=1", 2000, Comeback::PowerCycled},
        UnplugCase{"PackageRightAfterSystemUpdate", true, "unplug_after_ms=0", 2000, Comeback::PowerCycled},
        UnplugCase{"PackageDuringTheSettle", true, "unplug_after_ms=1000", 2000, Comeback::PluggedIn},
        UnplugCase{"PackageInsideEntry2", true, "unplug_after_bytes=500", 2000, Comeback::PowerCycled},
        UnplugCase{"PackageBetweenEntries2And3", true, "unplug_after_images=1", 2000, Comeback::PluggedIn},
        UnplugCase{"PackageBeforeEntry1", true, "unplug_after_images=2", 2000, Comeback::PowerCycled},
        UnplugCase{"PackageInsideEntry1", true, "unplug_after_bytes=4100", 2000, Comeback::PluggedIn},
        UnplugCase{"PackageWhileEntry1sReplyIsAwaited", true, "unplug_after_bytes=6000", 2000, Comeback::PowerCycled},
        UnplugCase{"PackageDuringASilentReply", true, "replies=none\nunplug_after_ms=9000", 240, Comeback::PluggedIn},
        // After an unplug at the start of a large entry the package update
        // stops at the write the library reported lost.
        UnplugCase{"PackageAtTheStartOfA256KiBEntry", true, "unplug_after_bytes=1", 262144, Comeback::PluggedIn}),
    [](const ::testing::TestParamInfo<UnplugCase>& param) { return std::string(param.param.name); });

// The package update stops at the first write the library reports lost:
// nothing more is written or read, and the outcome says why at once instead
// of after the rest of the entry and a reply's timeout.
struct LostCase {
    const char* name;
    std::string unplug;
    std::size_t entrySize;  // of entry 2, and of entry 1's body
};

std::ostream& operator<<(std::ostream& out, const LostCase& c)
{
    return out << c.name;
}

class LostConnectionTest : public UpdateFlowTest, public ::testing::WithParamInterface<LostCase> {};

TEST_P(LostConnectionTest, PackageStopsAtTheWriteThatFoundTheInstrumentGone)
{
    const LostCase& c = GetParam();
    ImageSpec lead;
    lead.bodySize = c.entrySize;
    PackageBuilder package;
    package.Image(ImageBytes(lead), "main.bin");
    package.Image(ImageBody(c.entrySize, 2), "panel.bin");
    const std::string path = WriteFile("fw.pak", package.Build());

    Configure(c.unplug);
    StartReady();
    dialog.QueueFileChoice(path);
    const UpdateOutcome outcome = driver.Update();
    EXPECT_TRUE(outcome.updateModeEntered);
    EXPECT_EQ(outcome.stage, UpdateStage::Transfer);
    EXPECT_EQ(outcome.reason, StopReason::ConnectionLost);

    const auto events = sim.Transcript();
    const auto unplug =
        std::find_if(events.begin(), events.end(), [](const WireEvent& e) { return e.name == "unplug"; });
    ASSERT_NE(unplug, events.end()) << sim.TranscriptText();
    // The write that met the unplug may be logged after it; nothing else is.
    const auto after = std::count_if(unplug, events.end(),
                                     [](const WireEvent& e) { return e.name == "viWrite" || e.name == "viRead"; });
    EXPECT_LE(after, 1) << sim.TranscriptText();
    EXPECT_TRUE(outcome.endingShown);
}

INSTANTIATE_TEST_SUITE_P(Points, LostConnectionTest,
                         ::testing::Values(LostCase{"InsideEntry2", "unplug_after_bytes=500", 2000},
                                           LostCase{"InsideEntry1", "unplug_after_bytes=2500", 2000},
                                           LostCase{"AtTheStartOfA256KiBEntry", "unplug_after_bytes=1", 262144}),
                         [](const ::testing::TestParamInfo<LostCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload::testing
