// The single-image update end to end: what the user sees, what crossed the
// wire and when, for the body sizes around the pad rule, the status replies,
// write faults, refusals and the file problems.
#include "tests/update/update_flow_fixture.h"

#include "tests/update/read_fault.h"
#include "tests/update/write_holder.h"

#include <algorithm>

namespace meterload::testing {
namespace {

using ::testing::ElementsAreArray;
using namespace std::chrono_literals;

std::vector<Bytes> Concat(std::vector<Bytes> head, const std::vector<Bytes>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const std::vector<Bytes> kIdentification = {kLocal, kIdentify};

// --- Body sizes around the pad rule -----------------------------------------

struct BodyCase {
    std::size_t size;
    bool pad;
};

class BodySizeTest : public UpdateFlowTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(BodySizeTest, StreamsTheBodyAndInstallsIt)
{
    const BodyCase c = GetParam();
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = c.size;
    spec.bodySeed = 7;
    Press(WriteImage("main.bin", spec));

    const Bytes body = ImageBody(c.size, spec.bodySeed);
    std::vector<Bytes> expected = Concat(kIdentification, {kSystemUpdate});
    expected = Concat(expected, Chunks(body));
    if (c.pad) {
        expected.push_back(kPad);
    }
    expected.push_back(kFrame);
    EXPECT_EQ(HexList(Writes()), HexList(expected)) << "body of " << c.size << " bytes";
    EXPECT_EQ(ImageEvents(), std::vector<std::string>{"size=" + std::to_string(c.size)});

    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(SuccessLines("main.bin")));
    EXPECT_EQ(dialog.Caption(kSelectButton), "Continue");
    EXPECT_EQ(dialog.Caption(kExitButton), "OK");
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(dialog.Enabled(kExitButton));
    EXPECT_TRUE(dialog.Visible(kSelectButton));
    EXPECT_FALSE(driver.Ready());
}

INSTANTIATE_TEST_SUITE_P(PadRule, BodySizeTest,
                         ::testing::Values(BodyCase{0, false}, BodyCase{52, true}, BodyCase{240, false},
                                           BodyCase{291, false}, BodyCase{292, true}, BodyCase{293, false},
                                           BodyCase{356, true}, BodyCase{420, true}, BodyCase{480, false}),
                         [](const auto& testCase) { return "Body" + std::to_string(testCase.param.size); });

// --- Pacing -------------------------------------------------------------------

TEST_F(UpdateFlowTest, PausesWhereTheInstrumentNeedsTime)
{
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 1000;  // four full pieces and one of 40
    std::vector<std::chrono::microseconds> pumps;
    dialog.SetPumpHook([&] { pumps.push_back(clock.Now()); });
    Press(WriteImage("main.bin", spec));

    const auto writes = WriteTimes();
    const auto reads = ReadTimes();
    // L0, *idn?, system:update, 5 data writes, EndFrame.
    ASSERT_EQ(writes.size(), 9u) << HexList(Writes());
    // reads: the identification reply and the two status replies.
    ASSERT_EQ(reads.size(), 3u);

    EXPECT_GE(writes[3] - writes[2], 4000ms) << "system:update to the first data write";
    for (std::size_t i = 4; i < 8; ++i) {
        EXPECT_GE(writes[i] - writes[i - 1], 15ms) << "before data write " << i - 2;
    }
    EXPECT_GE(reads[1] - writes[7], 1000ms) << "last data write to the first status reply";
    EXPECT_GE(reads[2] - writes[8], 1000ms) << "EndFrame to the second status reply";

    // The waits keep the window alive: pumps every 100 ms (after Write's own
    // 10 ms), never one long sleep.
    const auto longestWithoutPump = [&](std::chrono::microseconds from, std::chrono::microseconds to) {
        std::chrono::microseconds last = from;
        std::chrono::microseconds longest{0};
        for (const auto& at : pumps) {
            if (at > from && at <= to) {
                longest = std::max(longest, at - last);
                last = at;
            }
        }
        return std::max(longest, to - last);
    };
    // In microseconds.
    EXPECT_LE(longestWithoutPump(writes[2], writes[3]).count(), 110'000) << "system:update to the first data write";
    EXPECT_LE(longestWithoutPump(writes[7], reads[1]).count(), 110'000) << "last data write to the first status reply";
    EXPECT_LE(longestWithoutPump(writes[8], reads[2]).count(), 110'000) << "EndFrame to the second status reply";

    // The window is repainted just before the data writes and not during them.
    for (const auto& at : pumps) {
        EXPECT_FALSE(at > writes[3] && at < writes[7] + 10ms)
            << "pump at " << at.count() << " us during the data writes";
    }
    const auto& events = dialog.Events();
    bool invalidatedThenPumped = false;
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        invalidatedThenPumped |=
            events[i].kind == DialogEvent::Kind::InvalidateAll && events[i + 1].kind == DialogEvent::Kind::Pump;
    }
    EXPECT_TRUE(invalidatedThenPumped) << dialog.EventLog();
}

TEST_F(UpdateFlowTest, BothButtonsAreDisabledDuringTheTransfer)
{
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 300;
    bool selectSeenEnabled = false;
    bool exitSeenEnabled = false;
    std::size_t pumpsInTransfer = 0;
    dialog.SetPumpHook([&] {
        // Once the exit button went grey the transfer has begun.
        if (!dialog.Enabled(kExitButton) && dialog.Caption(kExitButton) == "Exit") {
            ++pumpsInTransfer;
            selectSeenEnabled |= dialog.Enabled(kSelectButton);
            exitSeenEnabled |= dialog.Enabled(kExitButton);
        }
    });
    Press(WriteImage("main.bin", spec));
    EXPECT_GT(pumpsInTransfer, 20u);
    EXPECT_FALSE(selectSeenEnabled);
    EXPECT_FALSE(exitSeenEnabled);
}

// --- Status replies -----------------------------------------------------------

struct ReplyCase {
    const char* name;
    const char* replies;
    std::vector<std::string> transferLines;  // appended after "Please wait ..."
    bool frameSent;
    bool installed;
};

class ReplyTest : public UpdateFlowTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, ReportsTheReplyAndEndsAccordingly)
{
    const ReplyCase& c = GetParam();
    Configure(std::string("replies=") + c.replies);
    StartReady();
    ImageSpec spec;
    spec.bodySize = 100;
    Press(WriteImage("main.bin", spec));

    std::vector<std::string> before = {"Serial No: ABC123", "Please wait ..."};
    before.insert(before.end(), c.transferLines.begin(), c.transferLines.end());
    EXPECT_THAT(LogLinesBeforeEnding(), ElementsAreArray(before));

    const std::vector<Bytes> writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back() == kFrame, c.frameSent) << HexList(writes);
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(c.installed ? SuccessLines("main.bin") : FailureLines("main.bin")));
    EXPECT_FALSE(driver.Ready());
    EXPECT_EQ(dialog.Caption(kSelectButton), "Continue");
}

const char* const kCheckEof = "the 2nd error -- check EOF.";
const char* const kChecksum = "the 3nd error -- Checksum error.";
const char* const kRestart = "Upgrade failure...Please restart ZQ6140 and try again.";

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    ::testing::Values(ReplyCase{"BothAccepted", "0,0", {}, true, true},
                      ReplyCase{"BothAcceptedBehindPrefix", "ab0,ab0", {}, true, true},
                      ReplyCase{"FirstFrameError", "1", {kChecksum, "FRAME_ERROR"}, false, false},
                      ReplyCase{"FirstChecksum", "2", {kChecksum, "CHECKSUM_ERROR"}, false, false},
                      ReplyCase{"FirstChecksumBehindPrefix", "ab2", {kChecksum}, false, false},
                      ReplyCase{"FirstFirmwareError", "6", {kChecksum, "FW_ERROR"}, false, false},
                      ReplyCase{"FirstUnknownCode", "7", {kChecksum}, false, false},
                      ReplyCase{"FirstPrefixAlone", "hex:AB", {kChecksum}, false, false},
                      ReplyCase{"SecondVersionError", "0,5", {kCheckEof, kRestart, "VERSION_ERROR"}, true, false},
                      ReplyCase{"SecondEraseBehindPrefix", "0,ab3", {kCheckEof, kRestart}, true, false},
                      ReplyCase{"SecondProgramError", "ab0,4", {kCheckEof, kRestart, "PROGRAM_ERROR"}, true, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct SilenceCase {
    const char* name;
    const char* replies;
    std::vector<std::string> transferLines;
    std::size_t readsInUpdateMode;
};

class SilenceTest : public UpdateFlowTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceTest, AReplyThatNeverComesIsARefusalAfterTheTimeout)
{
    const SilenceCase& c = GetParam();
    Configure(std::string("replies=") + c.replies);
    StartReady();
    ImageSpec spec;
    spec.bodySize = 10;
    Press(WriteImage("main.bin", spec));

    std::vector<std::string> before = {"Serial No: ABC123", "Please wait ..."};
    before.insert(before.end(), c.transferLines.begin(), c.transferLines.end());
    EXPECT_THAT(LogLinesBeforeEnding(), ElementsAreArray(before));
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(FailureLines("main.bin")));

    // The silent read waits the connection's 10 seconds on the virtual clock.
    const auto reads = ReadTimes();
    const auto writes = WriteTimes();
    ASSERT_EQ(reads.size(), 1 + c.readsInUpdateMode);
    const auto& sleeps = clock.Sleeps();
    EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), 10000ms), sleeps.end());
    EXPECT_GE(clock.Now() - writes.back(), 10000ms);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, SilenceTest,
                         ::testing::Values(SilenceCase{"FirstReply", "none", {kChecksum}, 1},
                                           SilenceCase{"SecondReply", "0,none", {kCheckEof, kRestart}, 2}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// --- Write faults -------------------------------------------------------------

struct WriteFaultCase {
    const char* name;
    const char* fault;
    std::size_t bodySize;
    std::vector<std::string> transferLines;
    std::size_t dataWrites;  // attempted, the faulty one included
    bool pad;
};

class WriteFaultTest : public UpdateFlowTest, public ::testing::WithParamInterface<WriteFaultCase> {};

TEST_P(WriteFaultTest, EndsTheDataWritesAndReportsFailure)
{
    const WriteFaultCase& c = GetParam();
    Configure(c.fault);
    StartReady();
    ImageSpec spec;
    spec.bodySize = c.bodySize;
    Press(WriteImage("main.bin", spec));

    std::vector<std::string> before = {"Serial No: ABC123", "Please wait ..."};
    before.insert(before.end(), c.transferLines.begin(), c.transferLines.end());
    EXPECT_THAT(LogLinesBeforeEnding(), ElementsAreArray(before));
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(FailureLines("main.bin")));

    // No status reply is read and no EndFrame is sent after a bad data write.
    const std::vector<Bytes> writes = Writes();
    ASSERT_EQ(writes.size(), 3 + c.dataWrites + (c.pad ? 1u : 0u)) << HexList(writes);
    EXPECT_EQ(writes.back() == kPad, c.pad) << HexList(writes);
    for (const Bytes& w : writes) {
        EXPECT_NE(w, kFrame);
    }
    EXPECT_EQ(ReadTimes().size(), 1u) << "only the identification reply is read";
    EXPECT_TRUE(ImageEvents().empty());
    EXPECT_EQ(dialog.Caption(kExitButton), "OK");
    EXPECT_FALSE(driver.Ready());
}

const char* const kFirstError = "the 1st error -- in writing progress.";
const char* const kShortError = "the 1-1st Error -- in writing progress.";

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteFaultTest,
    ::testing::Values(WriteFaultCase{"SecondWriteFails",
                                     "fail_write_after=240",
                                     480,
                                     {kFirstError, "", "Upgrade failure....Please restart ZQ6140 and try again."},
                                     2,
                                     false},
                      // A failed write is not followed by the pad, even at 52 bytes.
                      WriteFaultCase{"OnlyWriteOf52Fails",
                                     "fail_write_after=0",
                                     52,
                                     {kFirstError, "", "Upgrade failure....Please restart ZQ6140 and try again."},
                                     1,
                                     false},
                      // 116 of 240 sent: the pad follows the short write.
                      WriteFaultCase{"ShortWriteOf116",
                                     "short_write_after=356",
                                     480,
                                     {kShortError, "", "Upgrade failure....during writing progress."},
                                     2,
                                     true},
                      WriteFaultCase{"ShortWriteOf100",
                                     "short_write_after=100",
                                     240,
                                     {kShortError, "", "Upgrade failure....during writing progress."},
                                     1,
                                     false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(UpdateFlowTest, AFailedEndFrameIsReportedWithoutACodeName)
{
    Configure("fail_endframe=1");
    StartReady();
    ImageSpec spec;
    spec.bodySize = 100;
    Press(WriteImage("main.bin", spec));

    EXPECT_THAT(LogLinesBeforeEnding(),
                ElementsAreArray(std::vector<std::string>{"Serial No: ABC123", "Please wait ...",
                                                          "the 2nd error -- send EOF.", kRestart}));
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(FailureLines("main.bin")));
    EXPECT_EQ(ReadTimes().size(), 2u) << "no reply is read after a failed EndFrame";
}

// --- Refusals before any data -------------------------------------------------

struct RefusalCase {
    const char* name;
    const char* versions;
    ImageSpec image;
    std::vector<std::string> lines;  // empty: the image is installed
};

ImageSpec Image(std::string identity, std::string version, std::uint8_t kind, bool inverted = true)
{
    ImageSpec spec;
    spec.identity = std::move(identity);
    spec.version = std::move(version);
    spec.targetKind = kind;
    spec.inverted = inverted;
    spec.bodySize = 60;
    return spec;
}

class RefusalTest : public UpdateFlowTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, ChecksTheHeaderInUpdateModeBeforeAnyData)
{
    const RefusalCase& c = GetParam();
    Configure(std::string("versions=") + c.versions);
    StartReady();
    Press(WriteImage("main.bin", c.image));

    if (c.lines.empty()) {
        EXPECT_THAT(dialog.LogLines(), ElementsAreArray(SuccessLines("main.bin")));
        EXPECT_EQ(ImageEvents().size(), 1u);
        return;
    }
    std::vector<std::string> expected = {"Serial No: ABC123", "Please wait ..."};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(expected));
    EXPECT_EQ(HexList(Writes()), HexList({kLocal, kIdentify, kSystemUpdate}));
    EXPECT_FALSE(dialog.Visible(kSelectButton));
    EXPECT_FALSE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(dialog.Enabled(kExitButton));
    EXPECT_EQ(dialog.Caption(kExitButton), "Exit");
    EXPECT_TRUE(driver.Ready());
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RefusalTest,
    ::testing::Values(
        RefusalCase{"OtherModel", "02.05-11-07", Image("KORVALEN ZQ6141", "02.06", 0), IdentityRefusalLines()},
        RefusalCase{"LowerCase", "02.05-11-07", Image("korvalen zq6140", "02.06", 0), IdentityRefusalLines()},
        RefusalCase{"NotInverted", "02.05-11-07", Image("KORVALEN ZQ6140", "02.06", 0, false), IdentityRefusalLines()},
        RefusalCase{"DspEqual", "02.05-11-07", Image("KORVALEN ZQ6140", "02.05", 0), GateRefusalLines("DSP")},
        RefusalCase{"DspOlder", "02.05-11-07", Image("KORVALEN ZQ6140", "01.99", 0), GateRefusalLines("DSP")},
        RefusalCase{"PanelEqual", "02.05-11-07", Image("KORVALEN ZQ6140", "11.00", 1), GateRefusalLines("Panel")},
        RefusalCase{"Msp430Equal", "02.05-11-07", Image("KORVALEN ZQ6140", "07.99", 2), GateRefusalLines("MSP 430")},
        RefusalCase{"PanelNewer", "02.05-11-07", Image("KORVALEN ZQ6140", "12", 1), {}},
        RefusalCase{"WildcardLetsOlderThrough", "02.xx-11-07", Image("KORVALEN ZQ6140", "01.00", 0), {}},
        RefusalCase{"NoProcessorNamed", "02.05-11-07", Image("KORVALEN ZQ6140", "00.00", 3), {}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// --- The file ---------------------------------------------------------------

TEST_F(UpdateFlowTest, AnUpperCasePakNameIsTakenForAnImage)
{
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 292;
    Press(WriteImage("FW.PAK", spec));
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(SuccessLines("FW.PAK")));
    EXPECT_EQ(ImageEvents(), std::vector<std::string>{"size=292"});
}

struct OpenFailureCase {
    const char* name;
    bool heldForWriting;  // false: the file does not exist
};

class OpenFailureTest : public UpdateFlowTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, AFileThatCannotBeOpenedLeavesOnlyItsMessage)
{
    Configure();
    StartReady();
    if (GetParam().heldForWriting) {
        ImageSpec spec;
        spec.bodySize = 100;
        const std::string path = WriteImage("main.bin", spec);
        WriteHolder writer(path);
        ASSERT_TRUE(writer.Holding());
        Press(path);
    } else {
        Press(PathOf("missing.bin"));
    }

    EXPECT_EQ(dialog.LogText(), "Couldn't open source file.");
    EXPECT_EQ(HexList(Writes()), HexList({kLocal, kIdentify, kSystemUpdate}));
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(dialog.Enabled(kExitButton));
    EXPECT_EQ(dialog.Caption(kSelectButton), "Select");
    EXPECT_TRUE(driver.Ready());
    // The log is replaced, not appended to: no scroll follows it.
    const auto& events = dialog.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, DialogEvent::Kind::Log) << dialog.EventLog();
    EXPECT_EQ(events.back().kind, DialogEvent::Kind::Enable) << dialog.EventLog();
}

INSTANTIATE_TEST_SUITE_P(Files, OpenFailureTest,
                         ::testing::Values(OpenFailureCase{"Missing", false},
                                           OpenFailureCase{"HeldOpenForWriting", true}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(UpdateFlowTest, AReadErrorInTheBodyIsAFailureNotAnEnd)
{
    if (!ReadFault::Supported()) {
        GTEST_SKIP() << "file reads cannot be made to fail here";
    }
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 1000;
    const std::string path = WriteImage("main.bin", spec);
    // The header and two pieces read well; the third piece fails.
    ReadFault::Arm(path, 50 + 480);
    Press(path);
    ReadFault::Disarm();

    const Bytes body = ImageBody(spec.bodySize, spec.bodySeed);
    const std::vector<Bytes> pieces = Chunks(body);
    EXPECT_EQ(HexList(Writes()), HexList({kLocal, kIdentify, kSystemUpdate, pieces[0], pieces[1]}))
        << "no reply wait and no EndFrame after a read error";
    EXPECT_EQ(ReadTimes().size(), 1u);
    EXPECT_THAT(LogLinesBeforeEnding(),
                ElementsAreArray(
                    std::vector<std::string>{"Serial No: ABC123", "Please wait ...", "Couldn't read source file."}));
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(FailureLines("main.bin")));
    EXPECT_TRUE(ImageEvents().empty());
    EXPECT_FALSE(driver.Ready());
}

TEST_F(UpdateFlowTest, AHeaderOnlyFileSendsNoDataAndIsInstalled)
{
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 0;
    Press(WriteImage("empty.bin", spec));
    const auto writes = WriteTimes();
    const auto reads = ReadTimes();
    ASSERT_EQ(writes.size(), 4u);
    ASSERT_EQ(reads.size(), 3u);
    // 2 s after system:update, 2 s more, then 1 s before the first reply.
    EXPECT_GE(reads[1] - writes[2], 5000ms);
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(SuccessLines("empty.bin")));
}

}  // namespace
}  // namespace meterload::testing
