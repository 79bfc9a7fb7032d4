#include "tests/cli/cli_wire.h"

#include "link/serial_number.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"
#include "update/update_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace meterload::testing {
namespace {

bool IsExchange(const WireEvent& event)
{
    return event.name == "viWrite" || event.name == "viRead";
}

void Append(std::vector<Exchange>& exchange, std::uint64_t& last, const WireEvent& event)
{
    const auto gap = std::chrono::microseconds(exchange.empty() ? 0 : event.time - last);
    last = event.time;
    exchange.push_back({event.name + " " + HexBytes(event.bytes), gap});
}

}  // namespace

std::vector<Exchange> ExchangeOf(const std::vector<WireEvent>& events)
{
    std::vector<Exchange> exchange;
    std::uint64_t last = 0;
    for (const WireEvent& event : events) {
        if (IsExchange(event)) {
            Append(exchange, last, event);
        }
    }
    return exchange;
}

std::map<std::string, std::vector<Exchange>> ExchangesBySerial(const std::vector<WireEvent>& events)
{
    std::map<std::string, std::string> sessions;  // vi= of a session, the serial number it was opened to
    std::map<std::string, std::vector<Exchange>> exchanges;
    std::map<std::string, std::uint64_t> last;
    for (const WireEvent& event : events) {
        if (event.name == "viOpen") {
            sessions[event.Field("vi")] = SerialNumberFromDescriptor(event.Field("name"));
        } else if (IsExchange(event)) {
            const std::string& serial = sessions[event.Field("vi")];
            Append(exchanges[serial], last[serial], event);
        }
    }
    return exchanges;
}

std::vector<WireEvent> DialogUpdateAlone(const std::string& path, const std::string& config)
{
    SimInstrument sim;
    VirtualClock clock;
    sim.UseClock(clock);
    EXPECT_TRUE(sim.Configure(config));
    RecordingDialog dialog;
    UpdateDriver driver(UpdateContext{dialog, clock, sim.LibraryPath()});
    driver.CheckInstrument();
    dialog.QueueFileChoice(path);
    driver.OnOK();
    return sim.Transcript();
}

void ExpectSameExchange(const std::vector<Exchange>& actual, const std::vector<Exchange>& alone, const std::string& who)
{
    ASSERT_EQ(actual.size(), alone.size()) << who;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i].what, alone[i].what) << who << ", exchange " << i;
        EXPECT_GE(actual[i].gap + std::chrono::milliseconds(1), alone[i].gap)
            << who << ", exchange " << i << ": " << actual[i].what;
    }
}

namespace {

// The position of the `n`th held write (from 1) among one instrument's events.
std::size_t HeldAt(const std::vector<WireEvent>& own, std::size_t n)
{
    std::size_t held = 0;
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (own[i].name == "held" && ++held == n) {
            return i;
        }
    }
    return own.size();
}

}  // namespace

void ExpectStoppedAfterTheWriteInFlight(const std::vector<WireEvent>& events, const std::string& serial,
                                        std::uint64_t firstHold, std::uint64_t secondHold)
{
    SCOPED_TRACE(serial);
    const std::vector<WireEvent> own = InstrumentEvents(events, serial);
    const std::size_t first = HeldAt(own, 1);
    const std::size_t second = HeldAt(own, 2);
    ASSERT_LT(second, own.size()) << "not held twice";
    EXPECT_EQ(own[first].Field("bytes"), std::to_string(firstHold));
    EXPECT_EQ(own[second].Field("bytes"), std::to_string(secondHold));
    EXPECT_EQ(HeldAt(own, 3), own.size()) << "held a third time: a write after the second press";

    std::uint64_t between = 0;
    for (std::size_t i = first + 1; i < second; ++i) {
        if (own[i].name == "viWrite") {
            EXPECT_EQ(own[i].Field("kind"), "data") << "between the presses";
            between += std::stoull(own[i].Field("returned"));
        }
    }
    EXPECT_EQ(between, secondHold - firstHold) << "the transfer did not go on after the first press";

    std::vector<WireEvent> after;
    for (std::size_t i = second + 1; i < own.size(); ++i) {
        if (own[i].name == "viWrite") {
            after.push_back(own[i]);
        }
    }
    ASSERT_EQ(after.size(), 1U) << "writes after the second press besides the one in flight";
    EXPECT_EQ(after[0].Field("kind"), "data");
    EXPECT_EQ(after[0].Field("status"), "0x00000000");
    EXPECT_EQ(std::to_string(after[0].bytes.size()), own[second].Field("count"));
    for (const WireEvent& event : own) {
        EXPECT_NE(event.name, "image") << "the image was closed although stopped";
    }
}

}  // namespace meterload::testing
