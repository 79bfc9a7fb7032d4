// The quirks of real instruments, each a switch of the emulated meter, met
// the way users meet them: meterload-cli identifies the meter and installs
// an image over the built-in USB transport, and PyVISA asks its identity
// through the same library. One row per quirk: what the bus must show to
// prove the quirk was met, and what each client must come to.
#include "tests/usb/usb_cli_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>

namespace meterload::testing {
namespace {

using ::testing::HasSubstr;

// 23 characters: the identity reply is then 52 bytes, and with its header
// it fills a 64-byte packet exactly.
constexpr const char* kLongSerial = "QRK0000000000000000001X";
constexpr const char* kConnLost = "0xBFFF00A6";

struct QuirkCase {
    const char* name;
    const char* serial;
    const char* config;  // the simulated instrument's, beside serials=
    UsbFaults faults;
    // An event on the bus that shows the quirk happened: "name key=value";
    // `present` false: it must never happen.
    const char* shows;
    bool present;
    int installExit;
    bool connectionLost;  // a call of the install reported VI_ERROR_CONN_LOST
};

// Named by its row in test output, not dumped as bytes.
void PrintTo(const QuirkCase& row, std::ostream* out)
{
    *out << row.name;
}

UsbFaults With(void (*set)(UsbFaults&))
{
    UsbFaults faults;
    set(faults);
    return faults;
}

const QuirkCase kQuirks[] = {
    {"WholePacketsThenZeroLengthPacket", kLongSerial, "", UsbFaults{}, "viRead returned=52", true, 0, false},
    {"WholePacketsThenPadding", kLongSerial, "", With([](UsbFaults& f) { f.fullPacketEnd = FullPacketEnd::Padding; }),
     "viRead returned=52", true, 0, false},
    {"WholePacketsThenNothing", kLongSerial, "", With([](UsbFaults& f) { f.fullPacketEnd = FullPacketEnd::Nothing; }),
     "viRead returned=52", true, 0, false},
    {"StaleReplyBeforeTheCurrentOne", "ABC123", "", With([](UsbFaults& f) { f.staleReplies = 1000; }), "stale", true, 0,
     false},
    {"StrayZeroLengthPacket", "ABC123", "", With([](UsbFaults& f) { f.strayZeroLengthPackets = 1000; }), "stray_zlp",
     true, 0, false},
    {"ClearStatusPendingAWhile", "ABC123", "", With([](UsbFaults& f) { f.pendingChecks = 12; }),
     "control request=6 answer=2", true, 0, false},
    {"ClearRefused", "ABC123", "", With([](UsbFaults& f) { f.refuseClear = true; }), "control request=5 answer=128",
     true, 0, false},
    {"UnplugReportedAsProtocolErrorFirst", "ABC123", "unplug_after_bytes=500\n",
     With([](UsbFaults& f) { f.protocolErrorsAtUnplug = 3; }), "eproto", true, 1, true},
    {"Usb488WithRenControl", "ABC123", "", UsbFaults{}, "control request=160 value=1", true, 0, false},
    {"Usb488WithoutRenControl", "ABC123", "", With([](UsbFaults& f) { f.renControl = false; }), "control request=160",
     false, 0, false},
};

class UsbQuirkTest : public UsbCliFixture, public ::testing::WithParamInterface<QuirkCase> {
protected:
    // Events on the bus named as in `shows`, with each key=value it gives.
    std::size_t Count(const std::string& shows) const
    {
        std::istringstream words(shows);
        std::string name;
        words >> name;
        std::vector<std::pair<std::string, std::string>> fields;
        for (std::string word; words >> word;) {
            const std::size_t equals = word.find('=');
            fields.emplace_back(word.substr(0, equals), word.substr(equals + 1));
        }
        std::size_t count = 0;
        for (const WireEvent& event : bus_->Transcript(GetParam().serial)) {
            bool matches = event.name == name;
            for (const auto& field : fields) {
                matches = matches && event.Field(field.first) == field.second;
            }
            count += matches ? 1 : 0;
        }
        return count;
    }
};

TEST_P(UsbQuirkTest, IdentifyPyvisaAndInstallDoTheRightThing)
{
    const QuirkCase& c = GetParam();
    START_OR_SKIP(std::string("serials=") + c.serial + "\n" + c.config, {{c.serial, c.faults}});
    const std::string identity = std::string("KORVALEN,ZQ6140,") + c.serial + ",02.05-11-07";

    const CliRun identify = RunUsb({"identify"});
    EXPECT_EQ(identify.code, 0) << identify.out << identify.err;
    EXPECT_THAT(identify.out, HasSubstr("Serial number:     " + std::string(c.serial)));
    EXPECT_THAT(identify.out, HasSubstr("02.05-11-07"));

#ifdef QUIRK_PYVISA_CHECK
    if (std::system("/usr/bin/python3 -c 'import pyvisa' >/dev/null 2>&1") == 0) {
        const CliRun pyvisa = RunCli({"/usr/bin/python3", QUIRK_PYVISA_CHECK, USBTMC_LIBRARY_PATH,
                                      std::string("USB0::0x1D47::0x0B62::") + c.serial + "::INSTR"},
                                     {{"LD_PRELOAD", UMOCKDEV_PRELOAD_PATH}, {"UMOCKDEV_DIR", bus_->RootDirectory()}});
        EXPECT_EQ(pyvisa.code, 0) << pyvisa.out << pyvisa.err;
        EXPECT_THAT(pyvisa.out, HasSubstr("ok: " + identity));
    }
#endif

    WriteFirmwareFiles();
    const std::string transcript = PathOf("usb-transcript.txt");
    Environment env = UsbEnv();
    env["METERLOAD_USBTMC_TRANSCRIPT"] = transcript;
    const CliRun install = RunCli(Command({"install", "{main.bin}", "--yes"}), env);
    EXPECT_EQ(install.code, c.installExit) << install.out << install.err;
    EXPECT_THAT(install.err, HasSubstr(c.installExit == 0 ? "update completed" : "firmware update failure"));
    std::ifstream in(transcript);
    std::stringstream library;
    library << in.rdbuf();
    EXPECT_EQ(library.str().find("status=" + std::string(kConnLost)) != std::string::npos, c.connectionLost)
        << "the call that met the unplug reports the lost connection";

    EXPECT_EQ(Count(c.shows) > 0, c.present) << c.shows;
}

INSTANTIATE_TEST_SUITE_P(Quirks, UsbQuirkTest, ::testing::ValuesIn(kQuirks),
                         [](const ::testing::TestParamInfo<QuirkCase>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace meterload::testing
