// What survives unloading the library: update mode, versions, the reply
// script's position; and what a power cycle resets.
#include "tests/sim/scoped_environment.h"
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace meterload::testing {
namespace {

// Each step loads the library afresh, as every connection of MeterLoad does,
// with its configuration from a file named by ZQSIM_CONFIG.
class PersistenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory_ = std::filesystem::temp_directory_path() /
                     ("zqsim-persist-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
        environment_.Set("ZQSIM_STATE_DATA", "");
        environment_.Set("ZQSIM_STATE", "");
        environment_.Set("ZQSIM_TRANSCRIPT", (directory_ / "transcript.txt").string());
    }

    void TearDown() override
    {
        std::error_code error;
        std::filesystem::remove_all(directory_, error);
    }

    void WriteConfig(const std::string& text)
    {
        const auto path = directory_ / "zqsim.conf";
        std::ofstream(path) << text;
        environment_.Set("ZQSIM_CONFIG", path.string());
    }

    std::string StatePath() const { return (directory_ / "state.txt").string(); }

    // Loads the library, identifies the instrument, reads one status, unloads.
    std::pair<std::string, std::string> IdentifyAndReadStatus(const std::string& command = "")
    {
        VisaApi api(SimLibraryPath());
        const ViSession vi = api.OpenInstrument();
        if (!command.empty()) {
            api.WriteText(vi, command);
        }
        std::string identity;
        std::string status;
        api.WriteText(vi, "*idn?\n");
        api.ReadText(vi, identity, 63);
        api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 1);
        api.ReadText(vi, status);
        return {identity, status};
    }

    std::string Transcript() const
    {
        std::ifstream file(directory_ / "transcript.txt");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::vector<WireEvent> Events(const std::string& name) const
    {
        std::vector<WireEvent> selected;
        for (const WireEvent& event : ParseTranscript(Transcript())) {
            if (event.name == name) {
                selected.push_back(event);
            }
        }
        return selected;
    }

    std::filesystem::path directory_;
    ScopedEnvironment environment_;
};

TEST_F(PersistenceTest, UpdateModeAndScriptPositionSurviveReload)
{
    WriteConfig("replies=1,2,3\nversions=02.10-05-12\nstate=" + StatePath() + "\n");
    const auto first = IdentifyAndReadStatus("system:update\n");
    EXPECT_EQ(first.first, "KORVALEN,ZQ6140,ABC123,WDL\n");
    EXPECT_EQ(first.second, "1");
    const auto second = IdentifyAndReadStatus();
    EXPECT_EQ(second.first, "KORVALEN,ZQ6140,ABC123,WDL\n") << "update mode was lost on reload";
    EXPECT_EQ(second.second, "2") << "the script started over on reload";

    {
        VisaApi api(SimLibraryPath());
        api.powerCycle();
    }
    const auto third = IdentifyAndReadStatus();
    EXPECT_EQ(third.first, "KORVALEN,ZQ6140,ABC123,02.10-05-12\n");
    EXPECT_EQ(third.second, "") << "a status read in normal mode times out";
    const auto loads = ParseTranscript(Transcript());
    std::size_t loadCount = 0;
    std::size_t unloadCount = 0;
    for (const WireEvent& event : loads) {
        loadCount += event.name == "load" ? 1U : 0U;
        unloadCount += event.name == "unload" ? 1U : 0U;
    }
    EXPECT_EQ(loadCount, 4U) << Transcript();
    EXPECT_EQ(unloadCount, 4U) << Transcript();
}

TEST_F(PersistenceTest, WithoutStateFileTheProcessKeepsTheState)
{
    WriteConfig("replies=1,2\n");
    EXPECT_EQ(IdentifyAndReadStatus("system:update\n").second, "1");
    EXPECT_EQ(IdentifyAndReadStatus().second, "2");
}

TEST_F(PersistenceTest, AnotherConfigurationStartsFromPowerOn)
{
    WriteConfig("replies=1,2\nstate=" + StatePath() + "\n");
    EXPECT_EQ(IdentifyAndReadStatus("system:update\n").second, "1");
    WriteConfig("replies=5,6\nstate=" + StatePath() + "\n");
    const auto after = IdentifyAndReadStatus();
    EXPECT_EQ(after.first, "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
    EXPECT_EQ(IdentifyAndReadStatus("system:update\n").second, "5");
}

TEST_F(PersistenceTest, ImageInProgressSurvivesReload)
{
    WriteConfig("state=" + StatePath() + "\n");
    {
        VisaApi api(SimLibraryPath());
        const ViSession vi = api.OpenInstrument();
        api.WriteText(vi, "system:update\n");
        api.WriteText(vi, "1234");
    }
    {
        VisaApi api(SimLibraryPath());
        const ViSession vi = api.OpenInstrument();
        api.WriteText(vi, "56789");
        api.WriteText(vi, std::string("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10));
    }
    const std::vector<WireEvent> images = Events("image");
    ASSERT_EQ(images.size(), 1U) << Transcript();
    EXPECT_EQ(images[0].Field("size"), "9");
    EXPECT_EQ(images[0].Field("crc32"), "CBF43926");
}

// MeterLoad loads the library afresh for each step, so an instrument that
// left the bus must stay gone, and come back plugged in, across reloads.
TEST_F(PersistenceTest, AnUnpluggedInstrumentStaysGoneAcrossReloads)
{
    WriteConfig("unplug_after_bytes=10\nstate=" + StatePath() + "\n");
    {
        VisaApi api(SimLibraryPath());
        const ViSession vi = api.OpenInstrument();
        api.WriteText(vi, "system:update\n");
        EXPECT_EQ(api.WriteText(vi, std::string(20, 'x')), static_cast<ViStatus>(0xBFFF00A6UL));
    }
    {
        VisaApi api(SimLibraryPath());
        ViSession rm = visa::VI_NULL;
        ASSERT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
        char name[visa::VI_FIND_BUFLEN] = {};
        ViUInt32 count = 99;
        visa::ViFindList list = visa::VI_NULL;
        EXPECT_EQ(api.findRsrc(rm, "USB?*INSTR", &list, &count, name), visa::VI_ERROR_RSRC_NFOUND);
        EXPECT_EQ(count, 0U);
        api.Get<zqsim_plug_in_fn>("zqsim_plug_in")();
    }
    EXPECT_EQ(IdentifyAndReadStatus().first, "KORVALEN,ZQ6140,ABC123,WDL\n");
}

// Two instruments in different states: each comes back in its own, and a
// new setting for one starts only that one from power-on.
TEST_F(PersistenceTest, EachInstrumentKeepsItsOwnState)
{
    const std::string instruments = "serials=ABC123,DEF456\nstate=" + StatePath() + "\n";
    WriteConfig(instruments + "ABC123.replies=1,2,3\nDEF456.replies=7,8\nDEF456.versions=03.00-01-01\n");
    {
        VisaApi api(SimLibraryPath());
        const ViSession abc = api.OpenSerial("ABC123");
        api.WriteText(abc, "system:update\n");
        std::string status;
        api.ReadText(abc, status);
        EXPECT_EQ(status, "1");
        api.WriteText(abc, "1234");
        EXPECT_EQ(api.Ask(api.OpenSerial("DEF456"), "*idn?\n"), "KORVALEN,ZQ6140,DEF456,03.00-01-01\n");
    }
    {
        VisaApi api(SimLibraryPath());
        const ViSession abc = api.OpenSerial("ABC123");
        EXPECT_EQ(api.Ask(abc, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,WDL\n") << "update mode was lost on reload";
        std::string status;
        api.ReadText(abc, status);
        EXPECT_EQ(status, "2");
        api.WriteText(abc, "56789");
        api.WriteText(abc, std::string("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10));
        const ViSession def = api.OpenSerial("DEF456");
        EXPECT_EQ(api.Ask(def, "*idn?\n"), "KORVALEN,ZQ6140,DEF456,03.00-01-01\n") << "took the other's mode";
        api.WriteText(def, "system:update\n");
        api.ReadText(def, status);
        EXPECT_EQ(status, "7") << "its script moved with the other's";
    }
    WriteConfig(instruments + "ABC123.replies=1,2,3\nDEF456.replies=9\nDEF456.versions=03.00-01-01\n");
    {
        VisaApi api(SimLibraryPath());
        const ViSession abc = api.OpenSerial("ABC123");
        EXPECT_EQ(api.Ask(abc, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,WDL\n");
        std::string status;
        api.ReadText(abc, status);
        EXPECT_EQ(status, "3") << "another instrument's new setting reset this one";
        EXPECT_EQ(api.Ask(api.OpenSerial("DEF456"), "*idn?\n"), "KORVALEN,ZQ6140,DEF456,03.00-01-01\n")
            << "its new setting did not start it from power-on";
    }
    const std::vector<WireEvent> images = Events("image");
    ASSERT_EQ(images.size(), 1U) << Transcript();
    EXPECT_EQ(images[0].Field("serial"), "ABC123");
    EXPECT_EQ(images[0].Field("crc32"), "CBF43926") << "the image in progress was lost on reload";
}

std::string ReplaceFirst(std::string text, const std::string& what, const std::string& with)
{
    const std::size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

// A state file that was cut short or altered is not taken back: the
// instrument starts from power-on instead of from half-read values.
TEST_F(PersistenceTest, DamagedStateFileMeansPowerOn)
{
    const struct {
        const char* label;
        std::string (*damage)(const std::string& text);
    } cases[] = {
        {"intact", [](const std::string& text) { return text; }},
        {"cut after the mode", [](const std::string& text) { return text.substr(0, text.find("update=1") + 8); }},
        {"signed hex", [](const std::string& text) { return ReplaceFirst(text, "versions=", "versions=-1"); }},
        {"count not a number",
         [](const std::string& text) { return ReplaceFirst(text, "image_bytes=", "image_bytes=x"); }},
        {"mode out of range", [](const std::string& text) { return ReplaceFirst(text, "update=1", "update=7"); }},
        {"script position overflows",
         [](const std::string& text) { return ReplaceFirst(text, "script=", "script=99999999999999999999999"); }},
        {"empty", [](const std::string&) { return std::string(); }},
        {"binary", [](const std::string&) { return std::string("\0\xFF\n=\n", 5); }},
    };
    const std::string updateReply = "KORVALEN,ZQ6140,ABC123,WDL\n";
    const std::string normalReply = "KORVALEN,ZQ6140,ABC123,02.05-11-07\n";
    for (const auto& c : cases) {
        WriteConfig("replies=1,2\nstate=" + StatePath() + "\n");
        {
            VisaApi api(SimLibraryPath());
            api.powerCycle();
        }
        ASSERT_EQ(IdentifyAndReadStatus("system:update\n").second, "1") << c.label;
        std::string saved;
        {
            std::ifstream file(StatePath(), std::ios::binary);
            saved.assign(std::istreambuf_iterator<char>(file), {});
        }
        ASSERT_NE(saved.find("update=1"), std::string::npos) << saved;
        std::ofstream(StatePath(), std::ios::binary | std::ios::trunc) << c.damage(saved);

        const auto after = IdentifyAndReadStatus();
        const bool intact = std::string(c.label) == "intact";
        EXPECT_EQ(after.first, intact ? updateReply : normalReply) << c.label << "\n" << c.damage(saved);
        EXPECT_EQ(after.second, intact ? "2" : "") << c.label;
    }
}

TEST(PowerCycleTest, FixturePowerCycleLeavesUpdateMode)
{
    SimInstrument sim("replies=4");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    api.WriteText(vi, "system:update\n");
    sim.PowerCycle();
    std::string reply;
    api.WriteText(vi, "*idn?\n");
    api.ReadText(vi, reply, 63);
    EXPECT_EQ(reply, "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
    api.WriteText(vi, "system:update\n");
    api.ReadText(vi, reply);
    EXPECT_EQ(reply, "4") << "the script starts over";
    const auto cycles = sim.Events("power_cycle");
    EXPECT_EQ(cycles.size(), 1U);
}

}  // namespace
}  // namespace meterload::testing
