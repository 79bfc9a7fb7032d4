// The real meterload-cli over the USB library on emulated meters: with no
// VISA library it finds our transport itself, and it updates a meter with
// the same bytes and no shorter pauses than over the simulated library.
#include "tests/cli/cli_wire.h"
#include "tests/usb/usb_cli_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace meterload::testing {
namespace {

using ::testing::HasSubstr;

class UsbCliTest : public UsbCliFixture {
protected:
    void ExpectSameAsSimulated(const std::string& file, const std::string& serial, const std::string& config) const
    {
        const auto alone = DialogUpdateAlone(PathOf(file), "serials=" + serial + "\n" + config);
        ExpectSameExchange(ExchangeOf(bus_->Transcript(serial)), ExchangeOf(alone), serial);
    }
};

TEST_F(UsbCliTest, WithNoVisaLibraryTheMetersAreReachedThroughUsb)
{
    START_OR_SKIP("serials=ABC123,DEF456\nDEF456.versions=02.04-10-06");
    const CliRun info = RunUsb({"info"});
    if (info.out.find("built-in USB transport") == std::string::npos) {
        GTEST_SKIP() << "a VISA library is installed on this machine:\n" << info.out;
    }
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_THAT(info.out, HasSubstr("(built-in USB transport, no VISA library found)"));
    EXPECT_THAT(info.out, HasSubstr("ABC123  USB0::0x1D47::0x0B62::ABC123::INSTR"));

    const CliRun list = RunUsb({"list"});
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_THAT(list.out, HasSubstr("ABC123"));
    EXPECT_THAT(list.out, HasSubstr("DEF456"));

    const CliRun identify = RunUsb({"identify", "--serial", "DEF456"});
    EXPECT_EQ(identify.code, 0) << identify.err;
    EXPECT_THAT(identify.out, HasSubstr("02.04-10-06"));
    EXPECT_EQ(identify.err, "") << "the library writes nothing to its host's standard error";

    // Unless its trace is asked for.
    Environment traced = UsbEnv();
    traced["METERLOAD_USBTMC_DEBUG"] = "1";
    const CliRun trace = RunCli(Command({"identify", "--serial", "DEF456"}), traced);
    EXPECT_EQ(trace.code, 0) << trace.err;
    EXPECT_THAT(trace.err, HasSubstr(" viOpen "));
    EXPECT_THAT(trace.err, HasSubstr(" viWrite "));
}

TEST_F(UsbCliTest, TheInstalledTransportIsFoundBesideTheProgram)
{
    START_OR_SKIP("serials=ABC123");
    // The layout of a package with prefix /usr: bin/ and lib/meterload/.
    const std::filesystem::path program = dir_ / "usr/bin/meterload-cli";
    const std::filesystem::path library = dir_ / "usr/lib/meterload/libmeterload-usbtmc.so";
    std::filesystem::create_directories(program.parent_path());
    std::filesystem::create_directories(library.parent_path());
    std::filesystem::copy_file(METERLOAD_CLI_PATH, program);
    std::filesystem::copy_file(USBTMC_LIBRARY_PATH, library);
    const CliRun info = RunCli({program.string(), "info"}, UsbEnv());
    if (info.out.find("built-in USB transport") == std::string::npos) {
        GTEST_SKIP() << "a VISA library is installed on this machine:\n" << info.out;
    }
    EXPECT_THAT(info.out, HasSubstr("VISA library:      " + library.string() +
                                    " (built-in USB transport, no VISA library found)"));
    EXPECT_THAT(info.out, HasSubstr("ABC123  USB0::0x1D47::0x0B62::ABC123::INSTR"));
}

TEST_F(UsbCliTest, WithoutLibusbTheTransportIsAMissingLibrary)
{
    // A copy of the transport that needs a libusb no machine has: the same
    // as a machine without libusb, whose loader cannot satisfy it.
    std::ifstream in(USBTMC_LIBRARY_PATH, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string needed = "libusb-1.0.so.0";
    std::size_t replaced = 0;
    for (std::size_t at = bytes.find(needed); at != std::string::npos; at = bytes.find(needed, at)) {
        bytes[at + needed.size() - 1] = '9';
        ++replaced;
    }
    ASSERT_GT(replaced, 0U) << "the transport does not name " << needed;
    const std::string copy = PathOf("libmeterload-usbtmc.so");
    std::ofstream(copy, std::ios::binary) << bytes;
    const CliRun run = RunCli(Command({"list", "--visa-library", copy}), {});
    EXPECT_EQ(run.code, 6) << run.err;
    EXPECT_THAT(run.err, HasSubstr("The VISA library cannot be loaded"));
    EXPECT_THAT(run.err, HasSubstr("libusb-1.0.so.9"));
}

TEST_F(UsbCliTest, InstallOfAnImageSendsWhatTheSimulatedRunSends)
{
    const std::string config = "received_versions=02.06-11-07\n";
    START_OR_SKIP("serials=ABC123\n" + config);
    WriteFirmwareFiles();
    const CliRun run = RunUsb({"install", "{main.bin}", "--yes"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("update completed"));
    ExpectSameAsSimulated("main.bin", "ABC123", config);
    const auto images = bus_->Transcript("ABC123");
    EXPECT_EQ(std::count_if(images.begin(), images.end(), [](const WireEvent& e) { return e.name == "image"; }), 1);

    // Switched off and on, it runs what it received, and the same image is
    // then refused before anything is sent.
    bus_->PowerCycle();
    const CliRun identify = RunUsb({"identify"});
    EXPECT_THAT(identify.out, HasSubstr("02.06-11-07"));
    const std::size_t writes = bus_->Writes("ABC123").size();
    const CliRun again = RunUsb({"install", "{main.bin}", "--yes"});
    EXPECT_EQ(again.code, 4) << again.err;
    EXPECT_EQ(bus_->Instrument("ABC123").updateMode, false);
    EXPECT_EQ(bus_->Writes("ABC123").size(), writes + 2) << "only L0 and *idn? after the refusal";
}

TEST_F(UsbCliTest, InstallOfAPackageSendsWhatTheSimulatedRunSends)
{
    START_OR_SKIP("serials=ABC123");
    WriteFirmwareFiles();
    const CliRun simulated = Run({"install", "{fw.pak}", "--yes"});
    ASSERT_EQ(simulated.code, 0) << simulated.err;
    const CliRun run = RunUsb({"install", "{fw.pak}", "--yes"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    const std::vector<Exchange> overSim = ExchangeOf(Transcript());
    const std::vector<Exchange> overUsb = ExchangeOf(bus_->Transcript("ABC123"));
    ASSERT_EQ(overUsb.size(), overSim.size());
    for (std::size_t i = 0; i < overUsb.size(); ++i) {
        ASSERT_EQ(overUsb[i].what, overSim[i].what) << "exchange " << i;
    }
    std::size_t images = 0;
    for (const WireEvent& event : bus_->Transcript("ABC123")) {
        images += event.name == "image" ? 1U : 0U;
    }
    EXPECT_EQ(images, 2U);
}

TEST_F(UsbCliTest, InstallOnEveryMeterAtOnce)
{
    START_OR_SKIP("serials=AAA111,BBB222,CCC333");
    WriteFirmwareFiles();
    const CliRun run = RunUsb({"install", "{main.bin}", "--all", "--yes"});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    for (const std::string serial : {"AAA111", "BBB222", "CCC333"}) {
        ExpectSameAsSimulated("main.bin", serial, "");
    }
}

TEST_F(UsbCliTest, AMeterUnpluggedMidUpdateFailsTheUpdate)
{
    START_OR_SKIP("serials=ABC123\nunplug_after_bytes=500");
    WriteFirmwareFiles();
    const CliRun run = RunUsb({"install", "{main.bin}", "--yes"});
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("firmware update failure"));
}

TEST_F(UsbCliTest, ANodeTheUserMayNotOpenIsNamedWithItsRemedy)
{
    START_OR_SKIP("serials=ABC123");
    std::vector<std::string> command = Command({"list"});
    if (::geteuid() == 0) {
        // Root opens any node: the program runs as an unprivileged user,
        // to whom the emulated sysfs and udev are as open as the real ones.
        if (!std::filesystem::exists("/usr/bin/setpriv")) {
            GTEST_SKIP() << "running as root without setpriv to run as an unprivileged user";
        }
        command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        const auto open = std::filesystem::perms::others_all;
        std::filesystem::permissions(bus_->RootDirectory(), open, std::filesystem::perm_options::add);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(bus_->RootDirectory())) {
            std::filesystem::permissions(entry.path(), open, std::filesystem::perm_options::add);
        }
        std::filesystem::permissions(dir_, open, std::filesystem::perm_options::add);
    }
    const std::string node = bus_->NodeFileOf("ABC123");
    ASSERT_EQ(::chmod(node.c_str(), 0), 0) << node;
    const CliRun run = RunCli(command, UsbEnv());
    EXPECT_EQ(run.code, 3) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("A ZQ6140 is attached at " + bus_->NodeOf("ABC123") +
                                   ", but this user may not open that device node (permission denied)."));
    EXPECT_THAT(run.err, HasSubstr("packaging/udev/70-zq6140.rules"));
    EXPECT_THAT(run.err, HasSubstr("or run as root"));
    EXPECT_EQ(run.err.find("A ZQ6140 is attached at"), run.err.rfind("A ZQ6140 is attached at"))
        << "said once, by the command line: the library itself prints nothing";
}

}  // namespace
}  // namespace meterload::testing
