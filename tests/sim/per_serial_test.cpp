// Several instruments, each configured on its own: SERIAL.key overrides the
// plain key for that instrument only, whatever the source and the order.
#include "tests/sim/scoped_environment.h"
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace meterload::testing {
namespace {

const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);

std::string StatusText(ViStatus status)
{
    if (status == visa::VI_SUCCESS) {
        return "ok";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(static_cast<ViUInt32>(status)));
    return text;
}

// The same short exchange with one instrument: its identity, then in update
// mode a 200-byte image, its EndFrame and one status read, summed up as
// "<identity> | data <status> <bytes taken> | end <status> | reply <bytes>".
std::string Probe(VisaApi& api, const std::string& serial)
{
    const ViSession vi = api.OpenSerial(serial);
    if (vi == visa::VI_NULL) {
        return "absent";
    }
    std::string identity = api.Ask(vi, "*idn?\n");
    if (identity.find(",WDL") == std::string::npos) {
        api.WriteText(vi, "system:update\n");
    }
    ViUInt32 taken = 0;
    const ViStatus data = api.WriteText(vi, std::string(200, 'x'), &taken);
    const ViStatus end = api.WriteText(vi, kEndFrame);
    std::string reply;
    const ViStatus read = api.ReadText(vi, reply);
    api.close(vi);
    if (!identity.empty() && identity.back() == '\n') {
        identity.pop_back();
    }
    return identity + " | data " + StatusText(data) + " " + std::to_string(taken) + " | end " + StatusText(end) +
           " | reply " + (read == visa::VI_SUCCESS ? reply : StatusText(read));
}

struct PerSerialCase {
    const char* name;
    std::string config;                 // for the instruments ABC123,DEF456,GHI789
    std::vector<std::string> expected;  // Probe() of each, in that order
};

class PerSerialTest : public ::testing::TestWithParam<PerSerialCase> {};

const std::string kPlain = " | data ok 200 | end ok | reply 0";

INSTANTIATE_TEST_SUITE_P(
    Settings, PerSerialTest,
    ::testing::Values(
        PerSerialCase{"PlainKeysApplyToAll",
                      "versions=02.10-05-12\nreplies=4",
                      {"KORVALEN,ZQ6140,ABC123,02.10-05-12 | data ok 200 | end ok | reply 4",
                       "KORVALEN,ZQ6140,DEF456,02.10-05-12 | data ok 200 | end ok | reply 4",
                       "KORVALEN,ZQ6140,GHI789,02.10-05-12 | data ok 200 | end ok | reply 4"}},
        PerSerialCase{"IdentityOfOne",
                      "DEF456.versions=03.00-01-01\nGHI789.idn=OTHER,METER\\n",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07" + kPlain, "KORVALEN,ZQ6140,DEF456,03.00-01-01" + kPlain,
                       "OTHER,METER" + kPlain}},
        PerSerialCase{"OneStartsInUpdateMode",
                      "ABC123.mode=update",
                      {"KORVALEN,ZQ6140,ABC123,WDL" + kPlain, "KORVALEN,ZQ6140,DEF456,02.05-11-07" + kPlain,
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07" + kPlain}},
        PerSerialCase{"OwnScriptWhateverTheOrderOfLines",
                      "DEF456.replies=3\nreplies=1\nGHI789.replies=ab2",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07 | data ok 200 | end ok | reply 1",
                       "KORVALEN,ZQ6140,DEF456,02.05-11-07 | data ok 200 | end ok | reply 3",
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07 | data ok 200 | end ok | reply \xAB"
                       "2"}},
        PerSerialCase{"WriteFaultsOfOne",
                      "ABC123.fail_write_after=10\nDEF456.short_write_after=50",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07 | data BFFF003E 0 | end ok | reply 0",
                       "KORVALEN,ZQ6140,DEF456,02.05-11-07 | data ok 50 | end ok | reply 0",
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07" + kPlain}},
        PerSerialCase{"EndFrameFaultsOfOne",
                      "GHI789.fail_endframe=1\nDEF456.fail_endframe_at=1",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07" + kPlain,
                       "KORVALEN,ZQ6140,DEF456,02.05-11-07 | data ok 200 | end BFFF003E | reply 0",
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07 | data ok 200 | end BFFF003E | reply 0"}},
        PerSerialCase{"OneUnplugged",
                      "GHI789.unplug_after_bytes=100",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07" + kPlain, "KORVALEN,ZQ6140,DEF456,02.05-11-07" + kPlain,
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07 | data BFFF00A6 100 | end BFFF00A6 | reply BFFF00A6"}},
        PerSerialCase{"PlainFaultTurnedOffForOne",
                      "unplug_after_images=1\nfail_write_after=150\nABC123.unplug_after_images=off\n"
                      "ABC123.fail_write_after=",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07" + kPlain,
                       "KORVALEN,ZQ6140,DEF456,02.05-11-07 | data BFFF003E 0 | end ok | reply BFFF00A6",
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07 | data BFFF003E 0 | end ok | reply BFFF00A6"}},
        PerSerialCase{"SerialMatchedIgnoringCase",
                      "def456.versions=03.00-01-01",
                      {"KORVALEN,ZQ6140,ABC123,02.05-11-07" + kPlain, "KORVALEN,ZQ6140,DEF456,03.00-01-01" + kPlain,
                       "KORVALEN,ZQ6140,GHI789,02.05-11-07" + kPlain}}),
    [](const ::testing::TestParamInfo<PerSerialCase>& param) { return std::string(param.param.name); });

TEST_P(PerSerialTest, EachInstrumentFollowsItsOwnSettings)
{
    SimInstrument sim("serials=ABC123,DEF456,GHI789\n" + GetParam().config);
    VisaApi api(sim.LibraryPath());
    const char* const serials[] = {"ABC123", "DEF456", "GHI789"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Probe(api, serials[i]), GetParam().expected[i]) << serials[i];
    }
}

// A serial may hold a dot: the key is what follows the last one.
TEST(PerSerialNames, SerialWithADot)
{
    SimInstrument sim("serials=A.B,C\nA.B.versions=09.09-09-09");
    VisaApi api(sim.LibraryPath());
    EXPECT_EQ(api.Ask(api.OpenSerial("A.B"), "*idn?\n"), "KORVALEN,ZQ6140,A.B,09.09-09-09\n");
    EXPECT_EQ(api.Ask(api.OpenSerial("C"), "*idn?\n"), "KORVALEN,ZQ6140,C,02.05-11-07\n");
}

std::string Serials(int count)
{
    std::string list;
    for (int i = 1; i <= count; ++i) {
        list += (i > 1 ? "," : "") + std::string("S") + std::to_string(i);
    }
    return list;
}

TEST(PerSerialNames, RefusedConfigurationsChangeNothing)
{
    const struct {
        const char* label;
        std::string config;
    } cases[] = {
        {"serial not attached", "serials=ABC123\nXYZ.replies=1"},
        {"serial attached only by an earlier line", "serials=ABC123,XYZ\nXYZ.replies=1\nserials=ABC123"},
        {"no serial", ".replies=1"},
        {"bus key", "ABC123.serials=DEF456"},
        {"file key", "ABC123.transcript=elsewhere.txt"},
        {"unknown key", "ABC123.colour=red"},
        {"bad value", "ABC123.mode=asleep"},
        {"bad script", "ABC123.replies=1,2,toolong"},
        {"seventeen instruments", "serials=" + Serials(17)},
        {"a serial twice", "serials=ABC123,DEF456,ABC123"},
        {"a serial twice in other case", "serials=abc123,ABC123"},
    };
    SimInstrument sim("serials=QX7\nversions=01.01-01-01");
    VisaApi api(sim.LibraryPath());
    for (const auto& c : cases) {
        EXPECT_FALSE(sim.Configure(c.config)) << c.label;
        const auto refused = sim.Events("configure");
        ASSERT_FALSE(refused.empty());
        EXPECT_EQ(refused.back().Field("status"), "-1") << c.label;
        EXPECT_NE(refused.back().Field("line"), "") << c.label;
        EXPECT_EQ(api.Ask(api.OpenSerial("QX7"), "*idn?\n"), "KORVALEN,ZQ6140,QX7,01.01-01-01\n") << c.label;
    }
    EXPECT_EQ(sim.Events("configure").back().Field("line"), "serials=abc123,ABC123");
}

TEST(PerSerialNames, SixteenInstrumentsAreAttached)
{
    SimInstrument sim("serials=" + Serials(16) + "\nS16.versions=16.16-16-16");
    VisaApi api(sim.LibraryPath());
    ASSERT_EQ(api.openDefaultRM(&api.rm), visa::VI_SUCCESS);
    ViUInt32 count = 0;
    visa::ViFindList list = visa::VI_NULL;
    char name[visa::VI_FIND_BUFLEN] = {};
    EXPECT_EQ(api.findRsrc(api.rm, "USB?*INSTR", &list, &count, name), visa::VI_SUCCESS);
    EXPECT_EQ(count, 16U);
    EXPECT_EQ(api.Ask(api.OpenSerial("S16"), "*idn?\n"), "KORVALEN,ZQ6140,S16,16.16-16-16\n");
    EXPECT_EQ(api.Ask(api.OpenSerial("S15"), "*idn?\n"), "KORVALEN,ZQ6140,S15,02.05-11-07\n");
}

// ZQSIM_<SERIAL>_<KEY> overrides a per-serial line as ZQSIM_<KEY> overrides a
// plain one; the per-serial value still wins over the plain one.
TEST(PerSerialSources, EnvironmentOverridesKeyByKey)
{
    ScopedEnvironment environment;
    environment.Set("ZQSIM_REPLIES", "5");
    environment.Set("ZQSIM_DEF456_REPLIES", "7");
    environment.Set("ZQSIM_GHI789_VERSIONS", "03.00-01-01");
    SimInstrument sim("serials=ABC123,DEF456,GHI789\nreplies=1\nDEF456.replies=3\nGHI789.replies=4");
    VisaApi api(sim.LibraryPath());
    EXPECT_EQ(Probe(api, "ABC123"), "KORVALEN,ZQ6140,ABC123,02.05-11-07 | data ok 200 | end ok | reply 5");
    EXPECT_EQ(Probe(api, "DEF456"), "KORVALEN,ZQ6140,DEF456,02.05-11-07 | data ok 200 | end ok | reply 7");
    EXPECT_EQ(Probe(api, "GHI789"), "KORVALEN,ZQ6140,GHI789,03.00-01-01 | data ok 200 | end ok | reply 4");
}

// In the file, as for any other bad line: reported in the transcript and
// skipped, the rest applies.
TEST(PerSerialSources, BadLinesOfTheFileAreReportedAndSkipped)
{
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("zqsim-per-serial-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".conf");
    std::ofstream(file) << "serials=ABC123,DEF456\nXYZ.replies=1\nDEF456.replies=3\nDEF456.mode=asleep\n";
    ScopedEnvironment environment;
    environment.Set("ZQSIM_CONFIG", file.string());
    environment.Set("ZQSIM_STATE_DATA", "");
    environment.Set("ZQSIM_DEF456_IDN", "\\x");
    {
        VisaApi api(SimLibraryPath());
        const auto transcript = api.Get<zqsim_transcript_fn>("zqsim_transcript");
        std::string text(transcript(nullptr, 0) + 1, '\0');
        text.resize(transcript(&text[0], text.size()));
        std::vector<std::string> errors;
        for (const WireEvent& event : ParseTranscript(text)) {
            if (event.name == "config_error") {
                errors.push_back(event.Field("line"));
            }
        }
        EXPECT_EQ(errors, (std::vector<std::string>{"DEF456.mode=asleep", "ZQSIM_DEF456_IDN=\\x", "XYZ.replies=1"}));
        EXPECT_EQ(Probe(api, "DEF456"), "KORVALEN,ZQ6140,DEF456,02.05-11-07 | data ok 200 | end ok | reply 3");
        EXPECT_EQ(Probe(api, "ABC123"), "KORVALEN,ZQ6140,ABC123,02.05-11-07" + kPlain);
    }
    std::error_code error;
    std::filesystem::remove(file, error);
}

}  // namespace
}  // namespace meterload::testing
