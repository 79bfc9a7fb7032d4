// Installs by the real program in real time: the wire transcript is the
// dialog's for the same file, the progress on a terminal and without one,
// the confirmation, and Ctrl+C before and during the transfer.
#include "tests/cli/cli_fixture.h"

#include "tests/cli/cli_wire.h"

#include <cstdint>

namespace meterload::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kTwo = "serials=ABC123,DEF456\n";

class CliInstallTest : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliInstallTest, SendsWhatTheDialogSendsToTheChosenInstrument)
{
    WriteFirmwareFiles();
    const std::string file = GetParam();
    const CliRun run = Run({"install", "{" + file + "}", "--serial", "DEF456", "--yes"}, kTwo);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("\"" + file + "\" update completed. Please recycle power on instrument"));
    // Without a terminal, a plain line at each tenth reached.
    EXPECT_THAT(run.err, ::testing::ContainsRegex("Sent [1-9]0%: 240 of "));
    EXPECT_THAT(run.err, HasSubstr("Sent 100%: "));
    EXPECT_THAT(run.err, Not(HasSubstr("\r")));

    ExpectSameExchange(ExchangeOf(Transcript()), ExchangeOf(DialogUpdateAlone(PathOf(file), "serials=DEF456\n")), file);
    for (const WireEvent& event : Transcript()) {
        if (event.name == "image") {
            EXPECT_EQ(event.Field("serial"), "DEF456");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CliInstallTest, ::testing::Values("main.bin", "fw.pak"),
                         [](const auto& param) { return param.param[0] == 'm' ? "Image" : "Package"; });

TEST_F(CliTest, ARefusedImageFailsAfterUpdateMode)
{
    WriteFirmwareFiles();
    const CliRun run = Run({"install", "{main.bin}", "--yes", "--json"}, "serials=ABC123\nreplies=2\n");
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("the 3nd error -- Checksum error."));
    EXPECT_THAT(run.err, HasSubstr("CHECKSUM_ERROR"));
    EXPECT_THAT(run.err, HasSubstr("\"main.bin\" firmware update failure! Please recycle power on"));
    EXPECT_THAT(run.err, Not(HasSubstr("Continue")));
    EXPECT_THAT(run.out, HasSubstr("\"result\": \"failed\""));
}

TEST_F(CliTest, OnATerminalItAsksAndDrawsOneProgressLine)
{
    ImageSpec spec;
    spec.bodySize = 24000;
    Write("big.bin", ImageBytes(spec));
    PtyRun run(Command({"install", "{big.bin}"}), Env());
    ASSERT_TRUE(run.WaitForOutput("[y/N] ")) << run.Output();
    EXPECT_FALSE(EnteredUpdateMode());
    run.Type("y\n");
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    const std::string& out = run.Output();
    EXPECT_THAT(out, HasSubstr("\r[########################] 100%  24000 of 24000 bytes"));
    EXPECT_THAT(out, HasSubstr("\r[#"));
    EXPECT_THAT(out, Not(HasSubstr("Sent 10%")));
    EXPECT_THAT(out, HasSubstr("\"big.bin\" update completed."));
}

TEST_F(CliTest, AnAnswerOtherThanYesChangesNothing)
{
    WriteFirmwareFiles();
    PtyRun run(Command({"install", "{main.bin}"}), Env());
    ASSERT_TRUE(run.WaitForOutput("[y/N] ")) << run.Output();
    run.Type("n\n");
    EXPECT_EQ(run.Wait(), 130);
    EXPECT_THAT(run.Output(), HasSubstr("Not installed."));
    EXPECT_FALSE(EnteredUpdateMode());
}

TEST_F(CliTest, CtrlCBeforeUpdateModeStopsAtOnceAndLetsGo)
{
    WriteFirmwareFiles();
    PtyRun run(Command({"install", "{fw.pak}"}), Env());
    ASSERT_TRUE(run.WaitForOutput("[y/N] ")) << run.Output();
    run.Type("\x03");
    EXPECT_EQ(run.Wait(), 130) << run.Output();
    EXPECT_THAT(run.Output(), HasSubstr("Interrupted. The instrument was not switched into update mode."));
    EXPECT_FALSE(EnteredUpdateMode());
    // The connection was closed and the library unloaded before the end.
    const auto events = Transcript();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "unload");
}

TEST_F(CliTest, CtrlCDuringTheTransferWarnsFirstAndStopsOnTheSecond)
{
    ImageSpec spec;
    spec.bodySize = 240 * 300;
    Write("big.bin", ImageBytes(spec));
    const WriteGates gates(PathOf("gates"));
    constexpr std::uint64_t kFirstHold = 240 * 20;
    constexpr std::uint64_t kSecondHold = 240 * 40;
    gates.HoldAfter("ABC123", kFirstHold);
    PtyRun run(Command({"install", "{big.bin}", "--yes"}), Env("serials=ABC123\n" + gates.ConfigLine()));
    ASSERT_TRUE(AwaitHeld("ABC123", 1)) << run.Output();
    run.Type("\x03");
    ASSERT_TRUE(run.WaitForOutput("Press Ctrl+C again to stop anyway.")) << run.Output();
    gates.HoldAfter("ABC123", kSecondHold);
    ASSERT_TRUE(AwaitHeld("ABC123", 2)) << run.Output();
    run.Type("\x03");
    ASSERT_TRUE(run.WaitForOutput("Stopping before the next write.")) << run.Output();
    gates.Release("ABC123");
    EXPECT_EQ(run.Wait(), 130) << run.Output();
    EXPECT_THAT(run.Output(), HasSubstr("Stopped: the ZQ6140 is left in update mode."));

    const auto events = Transcript();
    ExpectStoppedAfterTheWriteInFlight(events, "ABC123", kFirstHold, kSecondHold);
    // All was let go.
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "unload");
}

}  // namespace
}  // namespace meterload::testing
