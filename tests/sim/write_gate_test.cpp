// Write gates: a test holds an instrument's image data at a known byte and
// lets it go on. Only image data waits, and only past the gate's number; a
// waiting write is recorded before it waits, and an instrument switched off
// meanwhile fails it as it fails any write.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/write_gates.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace meterload::testing {
namespace {

const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);

class WriteGateTest : public ::testing::Test {
protected:
    WriteGateTest() : gates_(sim_.Directory() + "/gates") {}

    // The `held` events so far, once there are `count`; fewer when none came
    // within a minute.
    std::vector<WireEvent> AwaitHeld(std::size_t count) const
    {
        return HeldWrites(AwaitTranscript(sim_.TranscriptPath(),
                                          [&](const std::vector<WireEvent>& events) {
                                              return HeldWrites(events, "ABC123").size() >= count;
                                          }),
                          "ABC123");
    }

    SimInstrument sim_;
    WriteGates gates_;
};

TEST_F(WriteGateTest, OnlyImageDataPastTheGateWaitsUntilItOpens)
{
    ASSERT_TRUE(sim_.Configure("serials=ABC123\n" + gates_.ConfigLine()));
    gates_.HoldAfter("ABC123", 100);
    VisaApi api(sim_.LibraryPath());
    const ViSession vi = api.OpenSerial("ABC123");
    ASSERT_NE(vi, visa::VI_NULL);
    // None of these is image data past byte 100: none waits.
    const std::vector<std::string> passing = {"*idn?\n",
                                              "L0\n",
                                              "system:update\n",
                                              "*idn?\n",
                                              std::string(52, 'a'),
                                              "@?\n",  // the PadCommand, not data
                                              std::string(48, 'b'),
                                              kEndFrame};
    for (const std::string& bytes : passing) {
        EXPECT_EQ(api.WriteText(vi, bytes), visa::VI_SUCCESS) << bytes;
    }
    EXPECT_TRUE(HeldWrites(sim_.Transcript(), "ABC123").empty());

    // Byte 101 waits until the gate is raised to it; then an empty gate holds
    // every byte until it is gone.
    ViStatus raised = visa::VI_ERROR_TMO;
    ViStatus released = visa::VI_ERROR_TMO;
    std::thread writer([&] {
        raised = api.WriteText(vi, "c");
        std::ofstream(sim_.Directory() + "/gates/ABC123", std::ios::trunc).close();
        released = api.WriteText(vi, "d");
    });
    const std::vector<WireEvent> first = AwaitHeld(1);
    const std::size_t beforeRaise = sim_.Writes().size();
    gates_.HoldAfter("ABC123", 101);
    const std::vector<WireEvent> second = AwaitHeld(2);
    const std::size_t beforeRelease = sim_.Writes().size();
    gates_.Release("ABC123");
    writer.join();

    ASSERT_EQ(first.size(), 1U);
    EXPECT_EQ(first[0].Field("bytes"), "100");
    EXPECT_EQ(first[0].Field("count"), "1");
    ASSERT_EQ(second.size(), 2U);
    EXPECT_EQ(second[1].Field("bytes"), "101");
    EXPECT_EQ(beforeRaise, passing.size()) << "the held write went out before its gate opened";
    EXPECT_EQ(beforeRelease, passing.size() + 1) << "the held write went out before its gate opened";
    EXPECT_EQ(raised, visa::VI_SUCCESS);
    EXPECT_EQ(released, visa::VI_SUCCESS);
    // Each held once, and written whole after its `held` event.
    const std::vector<WireEvent> events = sim_.Transcript("ABC123");
    std::vector<std::string> order;
    for (const WireEvent& event : events) {
        if (event.name == "held" || (event.name == "viWrite" && event.Field("kind") == "data")) {
            order.push_back(event.name + " " + event.Field("data"));
        }
    }
    ASSERT_GE(order.size(), 4U);
    EXPECT_EQ(std::vector<std::string>(order.end() - 4, order.end()),
              (std::vector<std::string>{"held ", "viWrite 63", "held ", "viWrite 64"}));
    EXPECT_EQ(api.close(vi), visa::VI_SUCCESS);
}

TEST_F(WriteGateTest, AnInstrumentSwitchedOffWhileAWriteWaitsFailsIt)
{
    ASSERT_TRUE(sim_.Configure("serials=ABC123\n" + gates_.ConfigLine() + "power_switches=" + sim_.Directory() + "\n"));
    gates_.HoldAfter("ABC123", 0);
    VisaApi api(sim_.LibraryPath());
    const ViSession vi = api.OpenSerial("ABC123");
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    ViStatus status = visa::VI_SUCCESS;
    std::thread writer([&] { status = api.WriteText(vi, std::string(64, 'x')); });
    ASSERT_EQ(AwaitHeld(1).size(), 1U);
    std::ofstream(sim_.Directory() + "/ABC123") << "off\n";
    writer.join();
    EXPECT_EQ(status, visa::VI_ERROR_CONN_LOST);
    const std::vector<WireEvent> events = sim_.Transcript("ABC123");
    ASSERT_GE(events.size(), 2U);
    EXPECT_EQ(events[events.size() - 2].name, "power_off");
    EXPECT_EQ(events.back().name, "viWrite");
    EXPECT_EQ(events.back().Field("kind"), "lost");
    EXPECT_EQ(api.close(vi), visa::VI_SUCCESS);
}

}  // namespace
}  // namespace meterload::testing
