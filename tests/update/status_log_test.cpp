// The log's appends, line breaks and scrolling, and the two ways of keeping
// the window alive.
#include "tests/support/recording_dialog.h"
#include "tests/support/virtual_clock.h"
#include "update/status_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace meterload {
namespace {

using testing::DialogEvent;
using ::testing::ElementsAre;
using testing::RecordingDialog;
using testing::VirtualClock;
using Kind = DialogEvent::Kind;

class StatusLogTest : public ::testing::Test {
protected:
    RecordingDialog dialog;
    VirtualClock clock;
    StatusLog log{dialog, clock};
};

TEST_F(StatusLogTest, AppendPutsEachTextOnALineOfItsOwn)
{
    log.AppendLine("first");
    EXPECT_EQ(dialog.LogText(), "first");
    log.AppendLine("second");
    EXPECT_EQ(dialog.LogText(), "first\r\nsecond");
    // A text that starts with a line break leaves an empty line above it.
    log.AppendLine("\r\n  third");
    EXPECT_THAT(dialog.LogLines(), ElementsAre("first", "second", "", "  third"));
}

TEST_F(StatusLogTest, AppendSetsTheTextThenScrollsThenPumps)
{
    log.AppendLine("one");
    ASSERT_EQ(dialog.Events().size(), 3u) << dialog.EventLog();
    EXPECT_EQ(dialog.Events()[0].kind, Kind::Log);
    EXPECT_EQ(dialog.Events()[1].kind, Kind::ScrollLogToEnd);
    EXPECT_EQ(dialog.Events()[2].kind, Kind::Pump);
}

TEST_F(StatusLogTest, ClearThenAppendGivesTheTextAlone)
{
    log.AppendLine("old");
    log.ClearLog();
    EXPECT_EQ(dialog.LogText(), "");
    log.AppendLine("new");
    EXPECT_EQ(dialog.LogText(), "new");
}

TEST_F(StatusLogTest, ReplaceNeitherScrollsNorPumps)
{
    log.AppendLine("old");
    const std::size_t before = dialog.Events().size();
    log.ReplaceLog("replaced");
    EXPECT_EQ(dialog.LogText(), "replaced");
    ASSERT_EQ(dialog.Events().size(), before + 2) << dialog.EventLog();
    EXPECT_EQ(dialog.Events()[before].kind, Kind::Log);
    EXPECT_EQ(dialog.Events().back().kind, Kind::Log);
}

TEST_F(StatusLogTest, PumpReportsAQuitOnceAndOnlyOnce)
{
    EXPECT_TRUE(log.PumpMessages());
    dialog.PostQuit();
    EXPECT_FALSE(log.PumpMessages());
    EXPECT_TRUE(log.PumpMessages());
}

TEST_F(StatusLogTest, WaitPumpingSleepsOneHundredMillisecondsBeforeEachPump)
{
    std::vector<std::chrono::microseconds> pumpTimes;
    dialog.SetPumpHook([&] { pumpTimes.push_back(clock.Now()); });
    const auto start = clock.Now();
    log.WaitPumping(20);

    EXPECT_EQ(clock.Now() - start, std::chrono::seconds(2));
    EXPECT_EQ(clock.Sleeps(), std::vector<std::chrono::microseconds>(20, std::chrono::milliseconds(100)));
    ASSERT_EQ(pumpTimes.size(), 20u);
    for (std::size_t i = 0; i < pumpTimes.size(); ++i) {
        EXPECT_EQ(pumpTimes[i] - start, std::chrono::milliseconds(100) * static_cast<int>(i + 1));
    }
}

TEST_F(StatusLogTest, WaitPumpingGoesOnAfterAQuit)
{
    // The wait is a fixed pause: a quit met on the way does not shorten it.
    int pumps = 0;
    dialog.SetPumpHook([&] {
        if (++pumps == 3) {
            dialog.PostQuit();
        }
    });
    log.WaitPumping(10);
    EXPECT_EQ(pumps, 10);
    EXPECT_EQ(dialog.Count(Kind::Pump), 10u);
}

}  // namespace
}  // namespace meterload
