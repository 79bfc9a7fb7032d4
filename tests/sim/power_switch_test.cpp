// Each instrument's power switch, a file another process can write: off takes
// the instrument off the bus, on brings it back as after a power cycle, with
// the version (and mode) of an image it accepted.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace meterload::testing {
namespace {

const visa::ViByte kEndFrame[10] = {0xAB, 0, 0, 0, 0, 0, 0, 0x01, 0xFF, 0xFF};

class PowerSwitchTest : public ::testing::Test {
protected:
    std::string Config(const std::string& more) const
    {
        return "serials=ABC123,DEF456\npower_switches=" + Switches() + "\n" + more;
    }
    std::string Switches() const { return sim_.Directory(); }
    void Switch(const std::string& serial, const char* position) const
    {
        std::ofstream(Switches() + "/" + serial) << position << "\n";
    }
    // The serial numbers the search lists, in order, joined by commas.
    std::string Listed(VisaApi& api) const
    {
        visa::ViSession rm = visa::VI_NULL;
        EXPECT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
        char name[visa::VI_FIND_BUFLEN] = {};
        ViUInt32 count = 0;
        visa::ViFindList list = 0;
        std::string listed;
        if (api.findRsrc(rm, "USB?*INSTR", &list, &count, name) == visa::VI_SUCCESS) {
            for (ViUInt32 i = 0; i < count; ++i) {
                if (i > 0) {
                    api.findNext(list, name);
                }
                const std::string text = name;
                const std::size_t end = text.rfind("::INSTR");
                const std::size_t begin = text.rfind("::", end - 1) + 2;
                listed += (listed.empty() ? "" : ",") + text.substr(begin, end - begin);
            }
        }
        api.close(rm);
        return listed;
    }
    static void SendAcceptedImage(VisaApi& api, visa::ViSession vi)
    {
        api.WriteText(vi, "system:update\n");
        api.WriteText(vi, std::string(240, 'x'));
        std::string reply;
        api.ReadText(vi, reply);
        visa::ViUInt32 sent = 0;
        api.write(vi, kEndFrame, sizeof kEndFrame, &sent);
        api.ReadText(vi, reply);
    }

    SimInstrument sim_;
};

TEST_F(PowerSwitchTest, OffLeavesTheBusAndOnComesBackWithTheReceivedVersion)
{
    ASSERT_TRUE(sim_.Configure(Config("received_versions=02.06-11-07\n")));
    VisaApi api(sim_.LibraryPath());
    const visa::ViSession vi = api.OpenSerial("DEF456");
    SendAcceptedImage(api, vi);
    EXPECT_EQ(api.Ask(vi, "*idn?\n"), "KORVALEN,ZQ6140,DEF456,WDL\n");

    Switch("DEF456", "off");
    EXPECT_EQ(Listed(api), "ABC123");
    EXPECT_EQ(api.WriteText(vi, "*idn?\n"), visa::VI_ERROR_CONN_LOST) << "its session went with the power";
    EXPECT_EQ(api.OpenSerial("DEF456"), visa::VI_NULL);

    Switch("DEF456", "on");
    EXPECT_EQ(Listed(api), "ABC123,DEF456");
    EXPECT_EQ(api.Ask(api.OpenSerial("DEF456"), "*idn?\n"), "KORVALEN,ZQ6140,DEF456,02.06-11-07\n");
    EXPECT_EQ(api.Ask(api.OpenSerial("ABC123"), "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n")
        << "the other instrument was never switched";

    const auto off = sim_.Events("power_off");
    const auto on = sim_.Events("power_on");
    ASSERT_EQ(off.size(), 1u);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(off[0].Field("serial"), "DEF456");
    EXPECT_EQ(on[0].Field("mode"), "normal");
    EXPECT_EQ(on[0].Field("versions"), "02.06-11-07");
}

TEST_F(PowerSwitchTest, WhatComesBackDependsOnWhatWasAccepted)
{
    struct Case {
        const char* name;
        std::string config;
        bool sendImage;
        std::string reply;
    };
    const Case cases[] = {
        {"accepted, received version", "received_versions=02.06-11-07\n", true, "KORVALEN,ZQ6140,ABC123,02.06-11-07\n"},
        {"accepted, no received version: the old one", "", true, "KORVALEN,ZQ6140,ABC123,02.05-11-07\n"},
        {"accepted, back in its loader", "received_versions=02.06-11-07\nreceived_mode=update\n", true,
         "KORVALEN,ZQ6140,ABC123,WDL\n"},
        {"nothing sent: the received mode does not apply", "received_mode=update\n", false,
         "KORVALEN,ZQ6140,ABC123,02.05-11-07\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(Switches() + "/ABC123");
        ASSERT_TRUE(sim_.Configure(Config(c.config)));
        VisaApi api(sim_.LibraryPath());
        if (c.sendImage) {
            SendAcceptedImage(api, api.OpenSerial("ABC123"));
        }
        Switch("ABC123", "off");
        EXPECT_EQ(Listed(api), "DEF456");
        Switch("ABC123", "on");
        EXPECT_EQ(api.Ask(api.OpenSerial("ABC123"), "*idn?\n"), c.reply);
    }
}

TEST_F(PowerSwitchTest, AMissingFileOrAnyOtherWordIsOn)
{
    ASSERT_TRUE(sim_.Configure(Config("")));
    VisaApi api(sim_.LibraryPath());
    EXPECT_EQ(Listed(api), "ABC123,DEF456");
    Switch("ABC123", "offline");
    EXPECT_EQ(Listed(api), "ABC123,DEF456");
    Switch("ABC123", "  off  ");
    EXPECT_EQ(Listed(api), "DEF456");
    std::filesystem::remove(Switches() + "/ABC123");
    EXPECT_EQ(Listed(api), "ABC123,DEF456");
}

}  // namespace
}  // namespace meterload::testing
