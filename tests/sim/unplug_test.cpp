// An instrument that leaves the bus during an update: where the configured
// unplug happens, what its sessions and the search see from then on, and how
// it comes back (plugged in again: update mode; power cycle: normal mode).
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <sstream>

namespace meterload::testing {
namespace {

constexpr ViStatus kLost = static_cast<ViStatus>(0xBFFF00A6UL);
const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);
constexpr const char* kPattern = "USB[0-9]*::0x1D47::0x0B62::?*INSTR";

std::string StatusName(ViStatus status)
{
    if (status == visa::VI_SUCCESS) {
        return "ok";
    }
    if (status == kLost) {
        return "lost";
    }
    if (status == visa::VI_ERROR_TMO) {
        return "tmo";
    }
    std::ostringstream text;
    text << "0x" << std::hex << static_cast<std::uint32_t>(status);
    return text.str();
}

// How many instruments a fresh search finds.
ViUInt32 Found(VisaApi& api)
{
    ViSession rm = visa::VI_NULL;
    EXPECT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
    char name[visa::VI_FIND_BUFLEN] = {};
    ViUInt32 count = 0;
    visa::ViFindList list = visa::VI_NULL;
    api.findRsrc(rm, kPattern, &list, &count, name);
    api.close(rm);
    return count;
}

// Runs `steps` on an instrument just switched to update mode and gives what
// each did: "data:N" writes N image bytes (shows the status and the count
// sent), "frame" the EndFrame, "read" a status read, "wait:MS" lets time pass.
std::vector<std::string> RunSteps(SimInstrument& sim, VirtualClock& clock, const std::vector<std::string>& steps)
{
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    EXPECT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    std::vector<std::string> results;
    for (const std::string& step : steps) {
        if (step.rfind("data:", 0) == 0) {
            ViUInt32 sent = 0;
            const ViStatus status = api.WriteText(vi, std::string(std::stoul(step.substr(5)), 'd'), &sent);
            results.push_back(StatusName(status) + " " + std::to_string(sent));
        } else if (step == "frame") {
            results.push_back(StatusName(api.WriteText(vi, kEndFrame)));
        } else if (step == "read") {
            std::string reply;
            results.push_back(StatusName(api.ReadText(vi, reply)));
        } else if (step.rfind("wait:", 0) == 0) {
            clock.Advance(std::chrono::milliseconds(std::stoul(step.substr(5))));
            results.push_back("waited");
        }
    }
    return results;
}

struct WhereCase {
    const char* label;
    const char* config;
    std::vector<std::string> steps;
    std::vector<std::string> results;
};

std::ostream& operator<<(std::ostream& out, const WhereCase& c)
{
    return out << c.label;
}

class UnplugPointTest : public ::testing::TestWithParam<WhereCase> {};

TEST_P(UnplugPointTest, EverythingFailsFromTheUnplugOn)
{
    SimInstrument sim(GetParam().config);
    VirtualClock clock;
    sim.UseClock(clock);
    EXPECT_EQ(RunSteps(sim, clock, GetParam().steps), GetParam().results);

    const auto unplugs = sim.Events("unplug");
    ASSERT_EQ(unplugs.size(), 1U) << sim.TranscriptText();
    EXPECT_EQ(unplugs[0].Field("serial"), "ABC123");
    VisaApi api(sim.LibraryPath());
    EXPECT_EQ(Found(api), 0U) << "still in the search";
}

INSTANTIATE_TEST_SUITE_P(
    Points, UnplugPointTest,
    ::testing::Values(
        // What arrived before the unplug is reported with the failure.
        WhereCase{"InsideAWrite",
                  "unplug_after_bytes=300",
                  {"data:240", "data:240", "data:240", "read"},
                  {"ok 240", "lost 60", "lost 0", "lost"}},
        WhereCase{
            "AtTheEndOfAWrite", "unplug_after_bytes=240", {"data:240", "read", "frame"}, {"ok 240", "lost", "lost"}},
        WhereCase{"AtTheFirstByte", "unplug_after_bytes=0", {"data:10", "read"}, {"lost 0", "lost"}},
        // Between two images: the EndFrame arrives, its reply does not.
        WhereCase{"AfterTheFirstImage",
                  "unplug_after_images=1",
                  {"data:100", "read", "frame", "read", "data:100"},
                  {"ok 100", "ok", "ok", "lost", "lost 0"}},
        WhereCase{"AfterTheSecondImage",
                  "unplug_after_images=2",
                  {"data:100", "read", "frame", "read", "data:50", "read", "frame", "read"},
                  {"ok 100", "ok", "ok", "ok", "ok 50", "ok", "ok", "lost"}},
        WhereCase{"AfterSomeTime",
                  "unplug_after_ms=1000",
                  {"wait:999", "data:10", "wait:1", "data:10", "read"},
                  {"waited", "ok 10", "waited", "lost 0", "lost"}}),
    [](const ::testing::TestParamInfo<WhereCase>& param) { return std::string(param.param.label); });

TEST(UnplugTest, TheEventFollowsTheWriteThatEndedIt)
{
    SimInstrument sim("unplug_after_bytes=100");
    VirtualClock clock;
    sim.UseClock(clock);
    RunSteps(sim, clock, {"data:240"});
    const auto events = sim.Transcript();
    ASSERT_GE(events.size(), 2U);
    const WireEvent& last = events.back();
    const WireEvent& write = events[events.size() - 2];
    EXPECT_EQ(last.name, "unplug") << sim.TranscriptText();
    EXPECT_EQ(write.name, "viWrite");
    EXPECT_EQ(write.Field("kind"), "data");
    EXPECT_EQ(write.Field("returned"), "100");
    EXPECT_EQ(last.time, write.time);
}

TEST(UnplugTest, AReadWaitingForAReplyFailsWhenTheInstrumentGoes)
{
    SimInstrument sim("replies=none\nunplug_after_ms=3000");
    VirtualClock clock;
    sim.UseClock(clock);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 10000), visa::VI_SUCCESS);
    const auto start = clock.Now();
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    clock.Advance(std::chrono::milliseconds(1000));
    std::string reply;
    EXPECT_EQ(api.ReadText(vi, reply), kLost);
    EXPECT_EQ(clock.Now() - start, std::chrono::milliseconds(3000)) << "the read waited out its timeout";

    const auto reads = sim.Events("viRead");
    ASSERT_EQ(reads.size(), 1U);
    EXPECT_EQ(reads[0].Field("lost_after_ms"), "2000");
    const auto unplugs = sim.Events("unplug");
    ASSERT_EQ(unplugs.size(), 1U);
    EXPECT_EQ(unplugs[0].time, static_cast<std::uint64_t>((start + std::chrono::milliseconds(3000)).count()));
}

TEST(UnplugTest, NormalModeIsNeverUnplugged)
{
    SimInstrument sim("unplug_after_ms=10\nunplug_after_bytes=0");
    VirtualClock clock;
    sim.UseClock(clock);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    clock.Advance(std::chrono::seconds(5));
    EXPECT_EQ(api.WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(api.ReadText(vi, reply, 63), visa::VI_SUCCESS);
    EXPECT_EQ(Found(api), 1U);
}

TEST(UnplugTest, PluggedInAgainItComesBackInUpdateModeOnANewSession)
{
    SimInstrument sim("serials=ABC123,DEF456\nunplug_after_bytes=100");
    VirtualClock clock;
    sim.UseClock(clock);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    api.WriteText(vi, "system:update\n");
    ASSERT_EQ(api.WriteText(vi, std::string(200, 'x')), kLost);
    EXPECT_EQ(Found(api), 1U) << "the other instrument stays";
    ViSession gone = visa::VI_NULL;
    EXPECT_EQ(api.open(api.rm, "USB0::0x1D47::0x0B62::ABC123::INSTR", 0, 0, &gone), visa::VI_ERROR_RSRC_NFOUND);

    sim.PlugIn();
    EXPECT_EQ(Found(api), 2U);
    EXPECT_EQ(api.WriteText(vi, "*idn?\n"), kLost) << "the old session stays lost";
    ViSession again = visa::VI_NULL;
    ASSERT_EQ(api.open(api.rm, "USB0::0x1D47::0x0B62::ABC123::INSTR", 0, 0, &again), visa::VI_SUCCESS);
    EXPECT_EQ(api.WriteText(again, "*idn?\n"), visa::VI_SUCCESS);
    std::string reply;
    api.ReadText(again, reply, 63);
    EXPECT_EQ(reply, "KORVALEN,ZQ6140,ABC123,WDL\n");
    // Once per power-on: more image bytes do not take it away again.
    EXPECT_EQ(api.WriteText(again, std::string(200, 'y')), visa::VI_SUCCESS);
    EXPECT_EQ(sim.Events("unplug").size(), 1U);
    EXPECT_EQ(sim.Events("plug_in").size(), 1U);
}

TEST(UnplugTest, APowerCycleBringsItBackInNormalModeWithTheUnplugArmed)
{
    SimInstrument sim("unplug_after_bytes=100");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    api.WriteText(vi, "system:update\n");
    ASSERT_EQ(api.WriteText(vi, std::string(200, 'x')), kLost);
    EXPECT_EQ(Found(api), 0U);

    sim.PowerCycle();
    EXPECT_EQ(Found(api), 1U);
    ViSession again = visa::VI_NULL;
    ASSERT_EQ(api.open(api.rm, "USB0::0x1D47::0x0B62::ABC123::INSTR", 0, 0, &again), visa::VI_SUCCESS);
    api.WriteText(again, "*idn?\n");
    std::string reply;
    api.ReadText(again, reply, 63);
    EXPECT_EQ(reply, "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
    api.WriteText(again, "system:update\n");
    EXPECT_EQ(api.WriteText(again, std::string(200, 'x')), kLost);
    EXPECT_EQ(sim.Events("unplug").size(), 2U);
}

}  // namespace
}  // namespace meterload::testing
