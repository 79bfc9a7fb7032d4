// Verification over the USB library on emulated meters: `install --verify`
// waits while this test switches the meter off (it leaves the bus, its node
// and sysfs entry go) and on (it enumerates again under a new address with
// the same serial), then asks it again; `verify` asks and changes nothing.
#include "tests/usb/usb_cli_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace meterload::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

class UsbVerifyTest : public UsbCliFixture {
protected:
    json History() const
    {
        const CliRun run = RunUsb({"history", "--json"});
        EXPECT_EQ(run.code, 0) << run.err;
        return json::parse(run.out).at("records");
    }
    // True where the program runs on the built-in transport here.
    bool OverUsb() const { return RunUsb({"info"}).out.find("built-in USB transport") != std::string::npos; }
};

// What the operator does once the program asks for the power cycle.
enum class Operator { SwitchesOffAndOn, OnlySwitchesOff };

struct InstallCase {
    const char* name;
    const char* config;  // of the one meter ABC123
    Operator does;
    int code;
    const char* result;  // of the verification
    const char* said;    // on standard error at the end
};

// Names the case where a test's parameter is printed.
void PrintTo(const InstallCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsbInstallVerifyTest : public UsbVerifyTest, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(UsbInstallVerifyTest, TheMeterIsAskedAgainOnceItIsBackOnTheBus)
{
    const InstallCase& c = GetParam();
    START_OR_SKIP(std::string("serials=ABC123\n") + c.config);
    if (!OverUsb()) {
        GTEST_SKIP() << "a VISA library is installed on this machine";
    }
    WriteFirmwareFiles();
    const std::string nodeBefore = bus_->NodeOf("ABC123");
    BackgroundRun run(Command({"install", "{main.bin}", "--serial", "ABC123", "--yes", "--verify", "--verify-timeout",
                               "10"}),
                      UsbEnv());
    ASSERT_TRUE(run.WaitForError("Switch the ZQ6140 off and on now")) << run.Error();
    bus_->SwitchOff("ABC123");
    ASSERT_TRUE(run.WaitForError("It has left the bus")) << run.Error();
    if (c.does == Operator::SwitchesOffAndOn) {
        bus_->SwitchOn("ABC123");
        EXPECT_NE(bus_->NodeOf("ABC123"), nodeBefore) << "a meter enumerates under a new address";
    }
    const CliRun end = run.Wait();

    EXPECT_EQ(end.code, c.code) << end.err;
    EXPECT_THAT(end.err, HasSubstr(c.said));
    const json newest = History().at(0);
    EXPECT_EQ(newest["serial"], "ABC123");
    EXPECT_EQ(newest["result"], "done") << "the install stands whatever the verdict";
    EXPECT_EQ(newest["verification"]["result"], c.result) << newest.dump(1);
}

INSTANTIATE_TEST_SUITE_P(
    PowerCycles, UsbInstallVerifyTest,
    ::testing::Values(InstallCase{"Verified", "received_versions=02.06-11-07", Operator::SwitchesOffAndOn, 0,
                                  "verified", "Verified: the ZQ6140 reports DSP 02.06."},
                      InstallCase{"ComesBackWithTheOldVersion", "", Operator::SwitchesOffAndOn, 7, "not verified",
                                  "Installed, but not verified: the ZQ6140 reports DSP 02.05, not 02.06."},
                      InstallCase{"ComesBackInItsLoader", "received_versions=02.06-11-07\nreceived_mode=update",
                                  Operator::SwitchesOffAndOn, 7, "not verified",
                                  "Installed, but not verified: the ZQ6140 is in the wrong mode"},
                      InstallCase{"NeverComesBack", "received_versions=02.06-11-07", Operator::OnlySwitchesOff, 7,
                                  "not verified",
                                  "Installed, but not verified: the ZQ6140 left but did not come back within 10 s."}),
    [](const ::testing::TestParamInfo<InstallCase>& param) { return std::string(param.param.name); });

TEST_F(UsbVerifyTest, VerifyAsksEachMeterAndChangesNothing)
{
    START_OR_SKIP("serials=AAA111,BBB222\nversions=02.06-11-07\nBBB222.versions=02.05-11-07");
    if (!OverUsb()) {
        GTEST_SKIP() << "a VISA library is installed on this machine";
    }
    WriteFirmwareFiles();
    const CliRun run = RunUsb({"verify", "{main.bin}", "--all", "--json"});
    EXPECT_EQ(run.code, 7) << run.err;
    const json doc = json::parse(run.out);
    ASSERT_EQ(doc["instruments"].size(), 2u) << run.out;
    EXPECT_EQ(doc["instruments"][0]["result"], "verified");
    EXPECT_EQ(doc["instruments"][1]["result"], "not verified");
    EXPECT_EQ(doc["instruments"][1]["detail"], "reports DSP 02.05, not 02.06");
    for (const std::string serial : {"AAA111", "BBB222"}) {
        for (const Bytes& write : bus_->Writes(serial)) {
            EXPECT_TRUE(write == BytesOf("L0\n") || write == BytesOf("*idn?\n"))
                << serial << " was sent " << std::string(write.begin(), write.end());
        }
        EXPECT_FALSE(bus_->Instrument(serial).updateMode) << serial;
    }

    // Switched off, a meter is not found; switched on again, it is asked as before.
    bus_->SwitchOff("AAA111");
    const CliRun off = RunUsb({"verify", "{main.bin}", "--serial", "AAA111"});
    EXPECT_EQ(off.code, 3) << off.err;
    EXPECT_THAT(off.out, HasSubstr("AAA111      -             not found"));
    bus_->SwitchOn("AAA111");
    const CliRun on = RunUsb({"verify", "{main.bin}", "--serial", "AAA111"});
    EXPECT_EQ(on.code, 0) << on.err;
    EXPECT_THAT(on.out, HasSubstr("AAA111      02.06-11-07   verified"));
}

}  // namespace
}  // namespace meterload::testing
