// The transcript's format and recording levels, and the variants that each
// lack one VISA function.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace meterload::testing {
namespace {

const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

TEST(TranscriptTest, EveryLineIsTimeEventAndFieldsInOrderOfTime)
{
    SimInstrument sim;
    VirtualClock clock;
    sim.UseClock(clock);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    api.WriteText(vi, "L0\n");
    clock.Advance(std::chrono::microseconds(1500));
    api.WriteText(vi, "*idn?\n");
    std::string reply;
    api.ReadText(vi, reply, 63);
    api.WriteText(vi, "system:update\n");
    api.WriteText(vi, "with blank");
    api.WriteText(vi, kEndFrame);

    const std::regex shape(R"(^[0-9]+ [A-Za-z_]+( [a-z_0-9]+=[^ ]*)*$)");
    const std::vector<std::string> lines = Lines(sim.TranscriptText());
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
    }
    std::uint64_t last = 0;
    const auto events = sim.Transcript();
    ASSERT_EQ(events.front().name, "configure") << "stamped on the system's clock, before UseClock";
    for (const WireEvent& event : std::vector<WireEvent>(events.begin() + 1, events.end())) {
        EXPECT_GE(event.time, last) << event.name;
        last = event.time;
    }
    const auto writes = sim.Events("viWrite");
    ASSERT_EQ(writes.size(), 5U);
    EXPECT_EQ(writes[0].Field("data"), "4C300A");
    EXPECT_EQ(writes[0].time, 1'000'000U);
    EXPECT_EQ(writes[1].time, 1'001'500U);
    EXPECT_EQ(writes[1].Field("status"), "0x00000000");
    EXPECT_EQ(writes[1].Field("returned"), "6");
    EXPECT_EQ(HexBytes(sim.Writes()[3]), HexBytes(BytesOf("with blank")));
    const auto reads = sim.Events("viRead");
    ASSERT_EQ(reads.size(), 1U);
    EXPECT_EQ(std::string(reads[0].bytes.begin(), reads[0].bytes.end()), reply);
    const auto opens = sim.Events("viOpen");
    ASSERT_EQ(opens.size(), 1U);
    EXPECT_EQ(opens[0].Field("name"), "USB0::0x1D47::0x0B62::ABC123::INSTR");
}

TEST(TranscriptTest, TheTranscriptFileHoldsTheSameEvents)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    api.WriteText(api.OpenInstrument(), "L0\n");
    std::ifstream file(sim.TranscriptPath());
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, sim.TranscriptText());
    EXPECT_EQ(sim.Transcript().front().name, "configure");
}

using ViSessionCallFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession);

// With several instruments, every call on an instrument's session names its
// serial, so that one instrument's traffic can be cut out of the transcript;
// the calls that concern no one instrument name none.
TEST(TranscriptTest, EveryCallOnAnInstrumentNamesItsSerial)
{
    SimInstrument sim("serials=ABC123,DEF456\nmode=update");
    VisaApi api(sim.LibraryPath());
    const auto clear = api.Get<ViSessionCallFn>("viClear");
    const auto unlock = api.Get<ViSessionCallFn>("viUnlock");
    const ViSession abc = api.OpenSerial("ABC123");
    const ViSession def = api.OpenSerial("DEF456");
    for (const ViSession vi : {abc, def, abc}) {
        api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 0);
        visa::ViUInt32 timeout = 0;
        api.getAttribute(vi, visa::VI_ATTR_TMO_VALUE, &timeout);
        api.WriteText(vi, "*idn?\n");
        std::string reply;
        api.ReadText(vi, reply);
        char text[64] = {};
        api.queryf(vi, "*idn?\n", "%s", text);
        clear(vi);
        unlock(vi);
    }
    api.close(def);
    api.close(abc);
    ViSession gone = visa::VI_NULL;
    api.open(api.rm, "USB0::0x1D47::0x0B62::XYZ::INSTR", 0, 0, &gone);
    api.close(api.rm);

    std::map<std::string, std::string> serialOfSession = {{std::to_string(abc), "ABC123"},
                                                          {std::to_string(def), "DEF456"}};
    std::set<std::string> tagged;
    for (const WireEvent& event : sim.Transcript()) {
        const std::string handle = event.Has("vi") ? event.Field("vi") : event.Field("object");
        const auto session = serialOfSession.find(handle);
        const std::string expected = session != serialOfSession.end() ? session->second : "";
        if (event.name == "mode" || event.name == "image") {
            continue;
        }
        EXPECT_EQ(event.Field("serial"), expected) << event.name << " " << handle;
        if (event.Has("serial")) {
            tagged.insert(event.name);
        }
    }
    EXPECT_EQ(tagged, (std::set<std::string>{"viOpen", "viSetAttribute", "viGetAttribute", "viWrite", "viRead",
                                             "viQueryf", "viClear", "viUnlock", "viClose"}));
    const auto own = sim.Transcript("DEF456");
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own.front().name, "viOpen");
    EXPECT_EQ(own.back().name, "viClose");
    EXPECT_EQ(sim.Writes("DEF456").size(), 2U) << "its viWrite and the one viQueryf made";
}

struct RecordCase {
    const char* record;
    bool writeEvents;
    bool data;
};

class RecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordTest, RecordingLevelDecidesWhatIsKept)
{
    SimInstrument sim(std::string("record=") + GetParam().record);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    api.WriteText(vi, "system:update\n");
    const std::string piece(240, 'q');
    for (int i = 0; i < 4096; ++i) {  // about 1 MiB
        api.WriteText(vi, piece);
    }
    api.WriteText(vi, kEndFrame);
    const auto writes = sim.Events("viWrite");
    EXPECT_EQ(writes.size(), GetParam().writeEvents ? 4098U : 0U);
    EXPECT_EQ(!writes.empty() && writes[1].Has("data"), GetParam().data);
    const auto images = sim.Events("image");
    ASSERT_EQ(images.size(), 1U) << "images are recorded at every level";
    EXPECT_EQ(images[0].Field("size"), "983040");
    if (!GetParam().writeEvents) {
        EXPECT_LT(sim.TranscriptText().size(), 4096U) << "the transcript grows with the image";
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, RecordTest,
                         ::testing::Values(RecordCase{"full", true, true}, RecordCase{"counts", true, false},
                                           RecordCase{"off", false, false}),
                         [](const ::testing::TestParamInfo<RecordCase>& param) {
                             return std::string(param.param.record);
                         });

TEST(ConfigureTest, UnknownKeysAndBadValuesAreRefusedWithoutChange)
{
    SimInstrument sim("serials=QX7");
    const std::string longestSerial(226, 'S');  // its hex resource name just fills the 256-byte descriptor
    for (const std::string& bad :
         {std::string("colour=red"), std::string("enumerate=octal"), std::string("replies=0,xyz"),
          std::string("mode=sleep"), std::string("fail_write_after=-1"),
          std::string("short_write_after=18446744073709551616"), std::string("idn=bad\\q"),
          std::string("no equals sign"), "serials=" + longestSerial + "S"}) {
        EXPECT_FALSE(sim.Configure(bad)) << bad;
    }
    VisaApi api(sim.LibraryPath());
    ViSession rm = 0;
    ASSERT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
    char name[visa::VI_FIND_BUFLEN] = {};
    ViUInt32 count = 0;
    visa::ViFindList list = 0;
    EXPECT_EQ(api.findRsrc(rm, "?*INSTR", &list, &count, name), visa::VI_SUCCESS);
    EXPECT_STREQ(name, "USB0::0x1D47::0x0B62::QX7::INSTR");
}

TEST(ConfigureTest, TheLongestSerialStillFitsTheDescriptor)
{
    const std::string serial(226, 'S');
    SimInstrument sim("serials=" + serial);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    char text[visa::VI_FIND_BUFLEN] = {};
    EXPECT_EQ(api.getAttribute(vi, 0xBFFF0002UL /* resource name */, text), visa::VI_SUCCESS);
    EXPECT_EQ(std::string(text), "USB0::0x1D47::0x0B62::" + serial + "::INSTR");
}

const char* const kBoundFunctions[] = {"viOpenDefaultRM", "viFindRsrc", "viClose", "viOpen",        "viFindNext",
                                       "viQueryf",        "viWrite",    "viRead",  "viSetAttribute"};

class VariantTest : public ::testing::TestWithParam<const char*> {};

TEST_P(VariantTest, LacksExactlyItsOneFunction)
{
    DynamicLibrary library;
    ASSERT_TRUE(library.Load(SimVariantPath(GetParam()))) << SimVariantPath(GetParam()) << ": " << library.LastError();
    for (const char* function : kBoundFunctions) {
        const bool present = library.Symbol(function) != nullptr;
        EXPECT_EQ(present, std::string(function) != GetParam()) << function;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, VariantTest, ::testing::ValuesIn(kBoundFunctions));

TEST(VariantTest, MainLibraryHasAllNine)
{
    DynamicLibrary library;
    ASSERT_TRUE(library.Load(SimLibraryPath())) << library.LastError();
    for (const char* function : kBoundFunctions) {
        EXPECT_NE(library.Symbol(function), nullptr) << function;
    }
}

}  // namespace
}  // namespace meterload::testing
