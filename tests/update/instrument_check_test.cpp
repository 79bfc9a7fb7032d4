// The presence check, the identification that starts every update, the file
// dialog and the way back through "Continue".
#include "tests/update/update_flow_fixture.h"

#include "tests/support/log_lines.h"
#include "tests/update/library_tracking.h"

namespace meterload::testing {
namespace {

using ::testing::ElementsAreArray;
using namespace std::chrono_literals;

const char* const kFilter = "ZQ6140 Update Files (*.pak;*.bin)|*.pak;*.bin|ZQ6140 Binary Files(*.bin)|*.bin||";

std::vector<std::string> IdentifiedLines()
{
    return {"Serial No: ABC123", "Please wait ..."};
}

// What the log showed while the file dialog was open.
std::vector<std::string> LinesAtFileDialog(const RecordingDialog& dialog)
{
    std::string log;
    for (const DialogEvent& event : dialog.Events()) {
        if (event.kind == DialogEvent::Kind::Log) {
            log = event.text;
        } else if (event.kind == DialogEvent::Kind::FileDialog) {
            break;
        }
    }
    return SplitLogLines(log);
}

TEST_F(UpdateFlowTest, StartWithTheInstrumentShowsTheHints)
{
    Configure();
    driver.CheckInstrument();
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(HintLines()));
    EXPECT_EQ(dialog.Caption(kSelectButton), "Select");
    EXPECT_EQ(dialog.Caption(kExitButton), "Exit");
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(driver.Ready());
    EXPECT_TRUE(dialog.MessageBoxes().empty());
    EXPECT_TRUE(Writes().empty()) << "the check only looks";
    if (LibraryTracking::Supported()) {
        EXPECT_EQ(LibraryTracking::MostHeld(), 1) << "the check's connection was seen loading";
    }
}

struct AbsentCase {
    const char* name;
    const char* config;
};

class AbsentAtStartTest : public UpdateFlowTest, public ::testing::WithParamInterface<AbsentCase> {};

TEST_P(AbsentAtStartTest, ShowsTheBoxAndLeavesSelectDisabled)
{
    ASSERT_TRUE(sim.Configure(GetParam().config));
    driver.CheckInstrument();

    const auto boxes = dialog.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << dialog.EventLog();
    EXPECT_EQ(boxes[0].owner, BoxOwner::Dialog);
    EXPECT_EQ(boxes[0].text, "ZQ6140 USBTMC device not found.");
    EXPECT_EQ(boxes[0].caption, "MeterLoad firmware");
    EXPECT_EQ(boxes[0].buttons, BoxButtons::Ok);
    EXPECT_EQ(boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(dialog.LogText(), "");
    EXPECT_FALSE(dialog.Enabled(kSelectButton));
    EXPECT_EQ(dialog.Caption(kExitButton), "Exit");
    EXPECT_FALSE(driver.Ready());
}

INSTANTIATE_TEST_SUITE_P(Causes, AbsentAtStartTest,
                         ::testing::Values(AbsentCase{"NoInstrument", "serials=\n"},
                                           AbsentCase{"NoResourceManager", "serials=ABC123\nno_rm=1\n"}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(UpdateFlowTest, InstrumentGoneAtSelect)
{
    Configure();
    StartReady();
    ASSERT_TRUE(sim.Configure("serials=\n"));
    Press(PathOf("never.bin"));

    const auto boxes = dialog.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << dialog.EventLog();
    EXPECT_EQ(boxes[0].owner, BoxOwner::Dialog);
    EXPECT_EQ(boxes[0].text, "ZQ6140 device not found.");
    EXPECT_EQ(boxes[0].caption, "MeterLoad");
    EXPECT_EQ(boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(dialog.LogText(), "");
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(driver.Ready());
    EXPECT_EQ(dialog.Count(DialogEvent::Kind::FileDialog), 0u);
}

TEST_F(UpdateFlowTest, IdentificationShowsTheSerialAndOffersTheFile)
{
    Configure();
    StartReady();
    Press(std::nullopt);

    EXPECT_THAT(LinesAtFileDialog(dialog), ElementsAreArray(IdentifiedLines()));
    const auto dialogs = dialog.EventsOf(DialogEvent::Kind::FileDialog);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].text, kFilter);

    // "L0", 30 ms, "*idn?", 30 ms, then the reply.
    const auto writes = WriteTimes();
    const auto reads = ReadTimes();
    EXPECT_EQ(HexList(Writes()), HexList({kLocal, kIdentify}));
    ASSERT_EQ(writes.size(), 2u);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_GE(writes[1] - writes[0], 30ms);
    EXPECT_GE(reads[0] - writes[1], 30ms);
}

TEST_F(UpdateFlowTest, CancelledFileDialogIsAUserAbort)
{
    Configure();
    StartReady();
    Press(std::nullopt);

    EXPECT_EQ(dialog.LogText(), "User Abort...");
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_EQ(dialog.Caption(kSelectButton), "Select");
    EXPECT_EQ(dialog.Caption(kExitButton), "Exit");
    EXPECT_TRUE(driver.Ready());
    EXPECT_EQ(HexList(Writes()), HexList({kLocal, kIdentify}));

    // The next "Select" identifies the instrument again.
    Press(std::nullopt);
    EXPECT_EQ(HexList(Writes()), HexList({kLocal, kIdentify, kLocal, kIdentify}));
}

TEST_F(UpdateFlowTest, SelectIsDisabledWhileIdentifying)
{
    Configure();
    StartReady();
    bool enabledDuringIdentification = true;
    dialog.SetPumpHook([&] {
        if (dialog.LogText().rfind("Serial No:", 0) == 0) {
            enabledDuringIdentification = dialog.Enabled(kSelectButton);
        }
    });
    Press(std::nullopt);
    EXPECT_FALSE(enabledDuringIdentification);
}

struct ModeCase {
    const char* name;
    const char* config;
    bool accepted;
};

class IdentificationReplyTest : public UpdateFlowTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(IdentificationReplyTest, RefusesAnInstrumentInTheWrongMode)
{
    const ModeCase& c = GetParam();
    Configure(c.config);
    StartReady();
    Press(std::nullopt);

    if (c.accepted) {
        EXPECT_THAT(LinesAtFileDialog(dialog), ElementsAreArray(IdentifiedLines()));
        EXPECT_EQ(dialog.LogText(), "User Abort...");
        return;
    }
    EXPECT_THAT(dialog.LogLines(),
                ElementsAreArray(std::vector<std::string>{"Incorrect mode. Please recycle power on instrument and",
                                                          "click \"Select\" to try again."}));
    EXPECT_EQ(dialog.Count(DialogEvent::Kind::FileDialog), 0u);
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(driver.Ready());
}

INSTANTIATE_TEST_SUITE_P(Replies, IdentificationReplyTest,
                         ::testing::Values(ModeCase{"UpdateModeWdl", "mode=update", false},
                                           ModeCase{"NoComma", "idn=KORVALEN ZQ6140 ABC123\\n", false},
                                           ModeCase{"LastFieldWdl", "versions=WDL-11-07", false},
                                           ModeCase{"LowerCaseWdl", "versions=wdl", true},
                                           ModeCase{"WdOtherLetter", "versions=WDX", true},
                                           ModeCase{"EndsInComma", "idn=KORVALEN,ZQ6140,ABC123,", true}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(UpdateFlowTest, SilentInstrumentIsInTheWrongModeAfterTheTimeout)
{
    // An empty reply: nothing arrives and the read waits its 10 seconds.
    Configure("idn=");
    StartReady();
    Press(std::nullopt);
    EXPECT_THAT(dialog.LogLines(),
                ElementsAreArray(std::vector<std::string>{"Incorrect mode. Please recycle power on instrument and",
                                                          "click \"Select\" to try again."}));
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
}

TEST_F(UpdateFlowTest, AnOverlongIdentificationIsReadToItsEnd)
{
    // 35 + 70 + 1 bytes: more than the 63 that fit. The rest is drained so
    // that it cannot pass for a status reply later.
    const std::string tail(70, 'Z');
    Configure("idn=KORVALEN,ZQ6140,ABC123,02.05-11-07-" + tail + "\\n");
    StartReady();
    ImageSpec spec;
    spec.bodySize = 100;
    Press(WriteImage("main.bin", spec));

    const auto reads = sim.Events("viRead");
    ASSERT_GE(reads.size(), 2u);
    std::size_t received = 0;
    for (std::size_t i = 0; i + 2 < reads.size(); ++i) {
        received += reads[i].bytes.size();
    }
    EXPECT_EQ(received, 35 + tail.size() + 1) << "the whole reply was read before the update";
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(SuccessLines("main.bin")));
}

TEST_F(UpdateFlowTest, AReplyOfExactly63BytesIsNotWaitedFor)
{
    // 63 bytes ending in the line feed: complete, no further read.
    const std::string versions = "02.05-11-07-" + std::string(63 - 23 - 12 - 1, 'Z');
    Configure("versions=" + versions);
    StartReady();
    Press(std::nullopt);
    EXPECT_EQ(ReadTimes().size(), 1u);
    EXPECT_THAT(LinesAtFileDialog(dialog), ElementsAreArray(IdentifiedLines()));
}

TEST_F(UpdateFlowTest, ContinueRunsTheCheckAndNotAnUpdate)
{
    Configure();
    StartReady();
    ImageSpec spec;
    spec.bodySize = 10;
    Press(WriteImage("main.bin", spec));
    ASSERT_FALSE(driver.Ready());
    ASSERT_EQ(dialog.Caption(kSelectButton), "Continue");
    const std::size_t writesBefore = Writes().size();

    sim.PowerCycle();
    Press(PathOf("main.bin"));
    EXPECT_EQ(dialog.Count(DialogEvent::Kind::FileDialog), 1u) << "no file dialog for Continue";
    EXPECT_EQ(Writes().size(), writesBefore);
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(HintLines()));
    EXPECT_EQ(dialog.Caption(kSelectButton), "Select");
    EXPECT_EQ(dialog.Caption(kExitButton), "Exit");
    EXPECT_TRUE(driver.Ready());
}

TEST(LibraryTrackingTest, WatchesTheLoaderHere)
{
    // The ownership checks of every test above rely on it.
#if defined(__linux__)
    EXPECT_TRUE(LibraryTracking::Supported());
#endif
}

}  // namespace
}  // namespace meterload::testing
