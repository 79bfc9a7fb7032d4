// What an update returns for each way it can end: the stage reached, whether
// update mode was entered, and the reason, which the command line and the
// history are made from. And the history's duration, which leaves out the
// time the front end took to decide on update mode.
#include "tests/update/update_flow_fixture.h"

#include "update/update_history.h"

#include <ostream>

namespace meterload::testing {
namespace {

struct OutcomeCase {
    const char* name;
    const char* config;  // extra sim lines
    const char* file;    // written by WriteFiles(); nullptr: no file chosen
    UpdateStage stage;
    bool entered;
    StopReason reason;
};

std::ostream& operator<<(std::ostream& out, const OutcomeCase& c)
{
    return out << c.name;
}

class UpdateOutcomeTest : public UpdateFlowTest, public ::testing::WithParamInterface<OutcomeCase> {
protected:
    void WriteFiles()
    {
        WriteSampleFiles();
        ImageSpec foreign;
        foreign.bodySize = 700;
        foreign.identity = "OTHER ZQ6140";
        WriteFile("foreign.pak", PackageBuilder().Image(ImageBytes(foreign), "foreign.bin").Build());
    }
};

TEST_P(UpdateOutcomeTest, TellsHowFarItGotAndWhy)
{
    const OutcomeCase& c = GetParam();
    WriteFiles();
    Configure(c.config);
    StartReady();
    dialog.QueueFileChoice(c.file != nullptr ? std::optional<std::string>(PathOf(c.file)) : std::nullopt);
    const UpdateOutcome outcome = driver.Update();
    EXPECT_EQ(outcome.stage, c.stage) << dialog.EventLog();
    EXPECT_EQ(outcome.updateModeEntered, c.entered) << dialog.EventLog();
    EXPECT_EQ(outcome.reason, c.reason) << dialog.EventLog();
    EXPECT_EQ(outcome.Complete(), c.reason == StopReason::None);
}

using S = UpdateStage;
using R = StopReason;

INSTANTIATE_TEST_SUITE_P(
    Ends, UpdateOutcomeTest,
    ::testing::Values(
        OutcomeCase{"Installed", "", "new.bin", S::Finished, true, R::None},
        OutcomeCase{"WrongMode", "mode=update", "new.bin", S::Identification, false, R::WrongMode},
        OutcomeCase{"NoFileChosen", "", nullptr, S::FileChoice, false, R::UserAbort},
        OutcomeCase{"ForeignImage", "", "foreign.bin", S::Transfer, true, R::NotZq6140Image},
        OutcomeCase{"OlderImage", "", "old.bin", S::Transfer, true, R::VersionGate},
        OutcomeCase{"ChecksumReply", "replies=1", "new.bin", S::Transfer, true, R::ReplyRefused},
        OutcomeCase{"SilentReply", "replies=none", "new.bin", S::Transfer, true, R::ReplyMissing},
        OutcomeCase{"WriteFails", "fail_write_after=240", "new.bin", S::Transfer, true, R::WriteFailed},
        OutcomeCase{"ImageUnplugged", "unplug_after_bytes=0", "new.bin", S::Transfer, true, R::ConnectionLost},
        OutcomeCase{"PackageInstalled", "", "fw.pak", S::Finished, true, R::None},
        OutcomeCase{"PackageForeign", "", "foreign.pak", S::Checks, false, R::NotZq6140Image},
        OutcomeCase{"PackageOlder", "", "old.pak", S::Checks, false, R::VersionGate},
        OutcomeCase{"PackageReply", "replies=1", "fw.pak", S::Transfer, true, R::ReplyRefused},
        OutcomeCase{"PackageSilentReply", "replies=none", "fw.pak", S::Transfer, true, R::ReplyMissing}),
    [](const auto& param) { return std::string(param.param.name); });

// A front end that takes its time over the question before update mode.
class SlowToDecide final : public UpdateObserver {
public:
    explicit SlowToDecide(VirtualClock& clock) : clock_(clock) {}
    bool MayEnterUpdateMode(std::string_view) override
    {
        clock_.Advance(std::chrono::minutes(5));
        return true;
    }

private:
    VirtualClock& clock_;
};

class KeptRecord final : public UpdateRecorder {
public:
    void Record(const UpdateRecord& kept) override { record = kept; }
    UpdateRecord record;
};

TEST_F(UpdateOutcomeTest, TheHistorysDurationLeavesOutTheTimeTakenToDecide)
{
    WriteFiles();
    for (const char* file : {"new.bin", "fw.pak"}) {
        SCOPED_TRACE(file);
        Configure();
        SlowToDecide slow(clock);
        KeptRecord kept;
        UpdateDriver decided(UpdateContext{dialog, clock, sim.LibraryPath(), std::string(), &slow, &kept});
        decided.CheckInstrument();
        dialog.QueueFileChoice(PathOf(file));
        const auto start = clock.Now();
        EXPECT_TRUE(decided.Update().Complete());
        const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - start);
        EXPECT_EQ(kept.record.result, "done");
        EXPECT_GT(kept.record.durationMs, 0);
        EXPECT_LE(kept.record.durationMs, (whole - std::chrono::minutes(5)).count());
    }
}

}  // namespace
}  // namespace meterload::testing
