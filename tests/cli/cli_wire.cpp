#include "tests/cli/cli_wire.h"

#include "link/serial_number.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"
#include "update/update_driver.h"

#include <gtest/gtest.h>

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

void ExpectSameExchange(const std::vector<Exchange>& actual, const std::vector<Exchange>& alone,
                        const std::string& who)
{
    ASSERT_EQ(actual.size(), alone.size()) << who;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i].what, alone[i].what) << who << ", exchange " << i;
        EXPECT_GE(actual[i].gap + std::chrono::milliseconds(1), alone[i].gap)
            << who << ", exchange " << i << ": " << actual[i].what;
    }
}

}  // namespace meterload::testing
