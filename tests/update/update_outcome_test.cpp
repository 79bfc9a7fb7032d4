// What an update returns for each way it can end: the stage reached, whether
// update mode was entered, and the reason, which the command line and the
// history are made from. And the history's duration, which leaves out the
// time the front end took to decide on update mode.
#include "tests/update/update_flow_fixture.h"

#include "update/update_history.h"

#include <ostream>

namespace meterload::testing {
namespace {

// What the front end does beside answering the file dialog.
enum class FrontEnd {
    Agrees,
    Declines,      // says no to update mode
    StopsWriting,  // stops the transfer before its first data write
};

struct OutcomeCase {
    const char* name;
    const char* config;  // extra sim lines
    const char* file;    // written by WriteFiles(); nullptr: no file chosen
    UpdateStage stage;
    bool entered;
    StopReason reason;
    FrontEnd frontEnd = FrontEnd::Agrees;
    // Sim lines that replace the configuration once the instrument has been
    // identified: what the package procedure's own connection finds then.
    const char* afterIdentification = nullptr;
};

std::ostream& operator<<(std::ostream& out, const OutcomeCase& c)
{
    return out << c.name;
}

class ScriptedFrontEnd final : public UpdateObserver {
public:
    explicit ScriptedFrontEnd(FrontEnd frontEnd) : frontEnd_(frontEnd) {}
    bool MayEnterUpdateMode(std::string_view) override { return frontEnd_ != FrontEnd::Declines; }
    bool MayWrite() override { return frontEnd_ != FrontEnd::StopsWriting; }

private:
    FrontEnd frontEnd_;
};

class UpdateOutcomeTest : public UpdateFlowTest, public ::testing::WithParamInterface<OutcomeCase> {
protected:
    void WriteFiles()
    {
        WriteSampleFiles();
        ImageSpec foreign;
        foreign.bodySize = 700;
        foreign.identity = "OTHER ZQ6140";
        WriteFile("foreign.pak", PackageBuilder().Image(ImageBytes(foreign), "foreign.bin").Build());
        // Its only entry runs past the end of the file.
        WriteFile("damaged.pak", PackageBuilder().Entry(2000, 4000).Build());
    }
};

// Every way an update can end, each driven by the fault that causes it; the
// reason decides exit codes and the history, so each is pinned here. A
// package hand-over without a serial number cannot come from the dialog; the
// package procedure's own tests pin that one.
TEST_P(UpdateOutcomeTest, TellsHowFarItGotAndWhy)
{
    const OutcomeCase& c = GetParam();
    WriteFiles();
    Configure(c.config);
    ScriptedFrontEnd frontEnd(c.frontEnd);
    UpdateDriver scripted(UpdateContext{dialog, clock, sim.LibraryPath(), std::string(), &frontEnd});
    scripted.CheckInstrument();
    ASSERT_TRUE(scripted.Ready()) << dialog.EventLog();
    bool reconfigured = false;
    if (c.afterIdentification != nullptr) {
        dialog.SetPumpHook([&] {
            if (!reconfigured && dialog.LogText().find("Please wait ...") != std::string::npos) {
                reconfigured = true;
                ASSERT_TRUE(sim.Configure(c.afterIdentification));
            }
        });
    }
    dialog.QueueFileChoice(c.file != nullptr ? std::optional<std::string>(PathOf(c.file)) : std::nullopt);
    const UpdateOutcome outcome = scripted.Update();
    EXPECT_EQ(outcome.stage, c.stage) << dialog.EventLog();
    EXPECT_EQ(outcome.updateModeEntered, c.entered) << dialog.EventLog();
    EXPECT_EQ(outcome.reason, c.reason) << dialog.EventLog();
    EXPECT_EQ(outcome.Complete(), c.reason == StopReason::None);
}

TEST_F(UpdateOutcomeTest, NoInstrumentStopsTheIdentification)
{
    Configure();
    StartReady();
    Configure("serials=\n");
    dialog.QueueFileChoice(PathOf("new.bin"));
    const UpdateOutcome outcome = driver.Update();
    EXPECT_EQ(outcome.stage, UpdateStage::Identification);
    EXPECT_FALSE(outcome.updateModeEntered);
    EXPECT_EQ(outcome.reason, StopReason::NotFound);
    EXPECT_THAT(outcome.texts, ::testing::ElementsAre("ZQ6140 device not found."));
}

using S = UpdateStage;
using R = StopReason;
using F = FrontEnd;

INSTANTIATE_TEST_SUITE_P(
    Ends, UpdateOutcomeTest,
    ::testing::Values(
        OutcomeCase{"Installed", "", "new.bin", S::Finished, true, R::None},
        OutcomeCase{"WrongMode", "mode=update", "new.bin", S::Identification, false, R::WrongMode},
        OutcomeCase{"NoFileChosen", "", nullptr, S::FileChoice, false, R::UserAbort},
        OutcomeCase{"ImageMissing", "", "missing.bin", S::Transfer, true, R::FileUnreadable},
        OutcomeCase{"ForeignImage", "", "foreign.bin", S::Transfer, true, R::NotZq6140Image},
        OutcomeCase{"OlderImage", "", "old.bin", S::Transfer, true, R::VersionGate},
        OutcomeCase{"ImageDeclined", "", "new.bin", S::Checks, false, R::Declined, F::Declines},
        OutcomeCase{"ImageStopped", "", "new.bin", S::Transfer, true, R::Stopped, F::StopsWriting},
        OutcomeCase{"ChecksumReply", "replies=1", "new.bin", S::Transfer, true, R::ReplyRefused},
        OutcomeCase{"SilentReply", "replies=none", "new.bin", S::Transfer, true, R::ReplyMissing},
        OutcomeCase{"WriteFails", "fail_write_after=240", "new.bin", S::Transfer, true, R::WriteFailed},
        OutcomeCase{"ShortWrite", "short_write_after=300", "new.bin", S::Transfer, true, R::ShortWrite},
        OutcomeCase{"EndFrameFails", "fail_endframe=1", "new.bin", S::Transfer, true, R::EndFrameFailed},
        OutcomeCase{"ImageUnplugged", "unplug_after_bytes=0", "new.bin", S::Transfer, true, R::ConnectionLost},
        OutcomeCase{"PackageInstalled", "", "fw.pak", S::Finished, true, R::None},
        OutcomeCase{"PackageMissing", "", "missing.pak", S::Checks, false, R::FileUnreadable},
        OutcomeCase{"PackageDamaged", "", "damaged.pak", S::Checks, false, R::PackageDamaged},
        OutcomeCase{"PackageForeign", "", "foreign.pak", S::Checks, false, R::NotZq6140Image},
        OutcomeCase{"PackageOlder", "", "old.pak", S::Checks, false, R::VersionGate},
        OutcomeCase{"PackageDeclined", "", "fw.pak", S::Checks, false, R::Declined, F::Declines},
        OutcomeCase{"PackageStopped", "", "fw.pak", S::Transfer, true, R::Stopped, F::StopsWriting},
        OutcomeCase{"PackageGone", "", "fw.pak", S::Checks, false, R::NotFound, F::Agrees, "serials=\n"},
        OutcomeCase{"PackageReachesAnother", "", "fw.pak", S::Checks, false, R::AnotherInstrument, F::Agrees,
                    "serials=DEF456,ABC123\n"},
        OutcomeCase{"PackageWrongMode", "", "fw.pak", S::Checks, false, R::WrongMode, F::Agrees, "idn=no comma\\n\n"},
        OutcomeCase{"PackageReply", "replies=1", "fw.pak", S::Transfer, true, R::ReplyRefused},
        OutcomeCase{"PackageSilentReply", "replies=none", "fw.pak", S::Transfer, true, R::ReplyMissing},
        OutcomeCase{"PackageEndFrameFails", "fail_endframe=1", "fw.pak", S::Transfer, true, R::EndFrameFailed},
        OutcomeCase{"PackageUnplugged", "unplug_after_bytes=0", "fw.pak", S::Transfer, true, R::ConnectionLost}),
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
