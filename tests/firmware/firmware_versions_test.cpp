// The three versions read out of the instrument's FirmwareVersionField.
#include "firmware/firmware_versions.h"

#include <gtest/gtest.h>

namespace meterload {
namespace {

struct VersionsCase {
    const char* field;
    const char* dsp;
    const char* panel;
    const char* msp430;
};

TEST(FirmwareVersions, ComeFromTheirPositions)
{
    const VersionsCase cases[] = {
        {"02.05-11-07\n", "02.05", "11", "07"},
        {"02.10-05-12", "02.10", "05", "12"},
        {"02.xx-11-07\n", "02.xx", "11", "07"},
        {"02.05-11", "02.05", "11", ""},  // too short for the MSP 430 version
        {"02.05-1", "02.05", "1", ""},
        {"02.0", "02.0", "", ""},
        {"", "", "", ""},
    };
    for (const VersionsCase& c : cases) {
        const FirmwareVersions versions = DecodeFirmwareVersions(c.field);
        EXPECT_EQ(versions.dsp, c.dsp) << c.field;
        EXPECT_EQ(versions.panel, c.panel) << c.field;
        EXPECT_EQ(versions.msp430, c.msp430) << c.field;
    }
}

}  // namespace
}  // namespace meterload
