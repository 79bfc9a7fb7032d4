#include "link/serial_number.h"

#include <gtest/gtest.h>

namespace meterload {
namespace {

TEST(SerialNumberFromDescriptor, TakesTheFourthFieldOrNothing)
{
    const struct {
        const char* descriptor;
        const char* serial;
    } cases[] = {
        {"USB0::0x1D47::0x0B62::ABC123::INSTR", "ABC123"},
        {"USB0::7495::2914::ABC123::INSTR", "ABC123"},
        {"USB0::0x1D47::0x0B62::ABC123", "ABC123"},
        {"USB0::0x1D47::0x0B62", ""},  // three fields only
        {"USB0::0x1D47::0x0B62::", ""},
        {"", ""},
        // Runs of ':' are one separator and empty fields are skipped.
        {"USB0:0x1D47:::0x0B62:::::XY:Z::INSTR", "XY"},
        {"::USB0::0x1D47::0x0B62::ABC123::INSTR", "ABC123"},
        {"USB0::0x1D47::0x0B62::ab c@1::INSTR", "ab c@1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SerialNumberFromDescriptor(c.descriptor), c.serial) << "descriptor: " << c.descriptor;
    }
}

}  // namespace
}  // namespace meterload
