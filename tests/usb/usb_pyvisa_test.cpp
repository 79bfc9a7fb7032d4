// PyVISA reaches an emulated meter through the USB library and asks its identity.
#include "tests/cli/cli_process.h"
#include "tests/usb/emulated_bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace meterload::testing {
namespace {

TEST(UsbPyvisaTest, PyvisaQueriesTheIdentityThroughTheUsbLibrary)
{
    if (std::system("/usr/bin/python3 -c 'import pyvisa' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "PyVISA is not installed for /usr/bin/python3";
    }
    EmulatedBus bus("serials=ABC123");
    if (!bus.Started()) {
        GTEST_SKIP() << "umockdev cannot start here: " << bus.WhyNotStarted();
    }
    const CliRun run =
        RunCli({"/usr/bin/python3", PYVISA_CHECK, USBTMC_LIBRARY_PATH, "USB0::0x1D47::0x0B62::ABC123::INSTR"},
               {{"LD_PRELOAD", UMOCKDEV_PRELOAD_PATH}, {"UMOCKDEV_DIR", bus.RootDirectory()}});
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_THAT(run.out, ::testing::HasSubstr("ok: KORVALEN,ZQ6140,ABC123,02.05-11-07"));
    const auto writes = bus.Writes("ABC123");
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(HexBytes(writes.back()), HexBytes(BytesOf("*idn?\r\n"))) << "PyVISA ends its writes with CR LF";
}

}  // namespace
}  // namespace meterload::testing
