// What the instrument reports after an update and a power cycle: the version
// of an image it accepted, its old one otherwise.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <string>

namespace meterload::testing {
namespace {

const visa::ViByte kEndFrame[10] = {0xAB, 0, 0, 0, 0, 0, 0, 0x01, 0xFF, 0xFF};

struct ReceivedCase {
    const char* name;
    const char* replies;  // the status after the image, then after its EndFrame
    bool sendEndFrame;
    const char* versionAfter;
};

const ReceivedCase kCases[] = {
    {"accepted", "0,0", true, "02.06-11-07"},
    {"accepted with the 0xAB prefix", "0,ab0", true, "02.06-11-07"},
    {"image refused, no EndFrame", "2,0", false, "02.05-11-07"},
    {"EndFrame refused", "0,5", true, "02.05-11-07"},
    {"EndFrame never answered", "0,none", true, "02.05-11-07"},
};

std::string Identify(VisaApi& api, visa::ViSession vi)
{
    return api.Ask(vi, "*idn?\n");
}

// Update mode, a short image, its status, the EndFrame and its status.
void SendImage(VisaApi& api, visa::ViSession vi)
{
    api.WriteText(vi, "system:update\n");
    api.WriteText(vi, "data");
    std::string reply;
    api.ReadText(vi, reply);
    visa::ViUInt32 sent = 0;
    api.write(vi, kEndFrame, sizeof kEndFrame, &sent);
    api.ReadText(vi, reply);
}

TEST(ReceivedVersionTest, PowerCycleAfterAnAcceptedImageReportsItsVersion)
{
    for (const ReceivedCase& c : kCases) {
        SCOPED_TRACE(c.name);
        SimInstrument sim(std::string("received_versions=02.06-11-07\nreplies=") + c.replies);
        VisaApi api(sim.LibraryPath());
        const visa::ViSession vi = api.OpenInstrument();
        api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 1);
        api.WriteText(vi, "system:update\n");
        api.WriteText(vi, std::string(240, 'x'));
        std::string reply;
        api.ReadText(vi, reply);
        if (c.sendEndFrame) {
            visa::ViUInt32 sent = 0;
            ASSERT_EQ(api.write(vi, kEndFrame, sizeof kEndFrame, &sent), visa::VI_SUCCESS);
            api.ReadText(vi, reply);
        }
        EXPECT_EQ(Identify(api, vi), "KORVALEN,ZQ6140,ABC123,WDL\n") << "still in its loader";
        sim.PowerCycle();
        EXPECT_EQ(Identify(api, vi), std::string("KORVALEN,ZQ6140,ABC123,") + c.versionAfter + "\n");
        sim.PowerCycle();
        EXPECT_EQ(Identify(api, vi), std::string("KORVALEN,ZQ6140,ABC123,") + c.versionAfter + "\n")
            << "the firmware stays across further power cycles";
    }
}

TEST(ReceivedVersionTest, ConfiguringStartsFromTheConfiguredVersion)
{
    SimInstrument sim("received_versions=02.06-11-07\nreplies=0,0");
    VisaApi api(sim.LibraryPath());
    visa::ViSession vi = api.OpenInstrument();
    SendImage(api, vi);
    sim.PowerCycle();
    ASSERT_EQ(Identify(api, vi), "KORVALEN,ZQ6140,ABC123,02.06-11-07\n");
    ASSERT_TRUE(sim.Configure("received_versions=02.06-11-07\nreplies=0,0"));
    vi = api.OpenInstrument();
    EXPECT_EQ(Identify(api, vi), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
}

TEST(ReceivedVersionTest, WithoutReceivedVersionsTheVersionStays)
{
    SimInstrument sim("serials=ABC123,DEF456\nreplies=0,0\nDEF456.received_versions=03.00-11-07");
    VisaApi api(sim.LibraryPath());
    for (const char* serial : {"ABC123", "DEF456"}) {
        SendImage(api, api.OpenSerial(serial));
    }
    sim.PowerCycle();
    EXPECT_EQ(Identify(api, api.OpenSerial("ABC123")), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
    EXPECT_EQ(Identify(api, api.OpenSerial("DEF456")), "KORVALEN,ZQ6140,DEF456,03.00-11-07\n");
}

}  // namespace
}  // namespace meterload::testing
