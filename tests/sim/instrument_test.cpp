// The simulated ZQ6140's behaviour on the wire: identification, update mode
// with the image stream, EndFrame and reply script, injected faults and
// timeouts on the test's clock.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ostream>

namespace meterload::testing {
namespace {

const std::string kEndFrame("\xAB\x00\x00\x00\x00\x00\x00\x01\xFF\xFF", 10);
constexpr ViStatus kIoError = visa::VI_ERROR_IO;

std::string Repeat(char c, std::size_t count)
{
    return std::string(count, c);
}

struct IdentityCase {
    const char* label;
    const char* config;
    std::string reply;
};

std::ostream& operator<<(std::ostream& out, const IdentityCase& c)
{
    return out << c.label;
}

class IdentityTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityTest, AnswersTheIdentificationQuery)
{
    SimInstrument sim(GetParam().config);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "L0\n"), visa::VI_SUCCESS);
    ASSERT_EQ(api.WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(api.ReadText(vi, reply, 63), visa::VI_SUCCESS);
    EXPECT_EQ(HexBytes(BytesOf(reply)), HexBytes(BytesOf(GetParam().reply))) << reply;
}

INSTANTIATE_TEST_SUITE_P(
    Identification, IdentityTest,
    ::testing::Values(IdentityCase{"Default", "", "KORVALEN,ZQ6140,ABC123,02.05-11-07\n"},
                      IdentityCase{"Versions", "serials=QX7\nversions=02.10-05-12",
                                   "KORVALEN,ZQ6140,QX7,02.10-05-12\n"},
                      IdentityCase{"WithoutComma", "idn=KORVALEN ZQ6140\\n", "KORVALEN ZQ6140\n"},
                      IdentityCase{"EscapedBytes", "idn=A,\\xAB\\x01", "A,\xAB\x01"},
                      IdentityCase{"UpdateModeAtPowerOn", "mode=update", "KORVALEN,ZQ6140,ABC123,WDL\n"},
                      IdentityCase{"UpdateModeIgnoresIdnKey", "mode=update\nidn=X", "KORVALEN,ZQ6140,ABC123,WDL\n"}),
    [](const ::testing::TestParamInfo<IdentityCase>& param) { return std::string(param.param.label); });

TEST(ReadTest, LongReplyIsKeptForTheNextRead)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
    std::string first;
    std::string rest;
    EXPECT_EQ(api.ReadText(vi, first, 10), visa::VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(api.ReadText(vi, rest, 100), visa::VI_SUCCESS);
    EXPECT_EQ(first, "KORVALEN,Z");
    EXPECT_EQ(rest, "Q6140,ABC123,02.05-11-07\n");
}

TEST(ReadTest, SilentInstrumentTimesOutOnTheTestsClock)
{
    SimInstrument sim;
    VirtualClock clock;
    sim.UseClock(clock);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 10000), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(api.ReadText(vi, reply, 63), visa::VI_ERROR_TMO);
    EXPECT_EQ(reply, "");
    ASSERT_EQ(clock.Sleeps().size(), 1U);
    EXPECT_EQ(clock.Sleeps()[0], std::chrono::milliseconds(10000));
    const auto reads = sim.Events("viRead");
    ASSERT_EQ(reads.size(), 1U);
    EXPECT_EQ(reads[0].Field("timeout_ms"), "10000");
    EXPECT_EQ(reads[0].time, 1'000'000U) << "stamped when the read began on the test's clock";
}

// One update: the image in 240-byte writes, the pad, status, EndFrame, status.
struct Transfer {
    std::vector<ViStatus> writeStatus;
    std::vector<ViUInt32> writeCounts;
};

Transfer SendImage(VisaApi& api, ViSession vi, const std::string& image)
{
    Transfer transfer;
    for (std::size_t at = 0; at < image.size(); at += 240) {
        ViUInt32 sent = 0;
        transfer.writeStatus.push_back(api.WriteText(vi, image.substr(at, 240), &sent));
        transfer.writeCounts.push_back(sent);
    }
    return transfer;
}

TEST(UpdateTest, ImageEndFrameAndRepliesAreRecorded)
{
    SimInstrument sim("replies=0,0");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    // "123456789" has the well-known CRC-32 CBF43926.
    const Transfer transfer = SendImage(api, vi, "123456789");
    EXPECT_EQ(transfer.writeCounts, std::vector<ViUInt32>{9});
    std::string reply;
    EXPECT_EQ(api.ReadText(vi, reply), visa::VI_SUCCESS);
    EXPECT_EQ(reply, "0");
    ViUInt32 sent = 0;
    EXPECT_EQ(api.WriteText(vi, kEndFrame, &sent), visa::VI_SUCCESS);
    EXPECT_EQ(sent, 10U);
    EXPECT_EQ(api.ReadText(vi, reply), visa::VI_SUCCESS);
    EXPECT_EQ(reply, "0");

    const auto images = sim.Events("image");
    ASSERT_EQ(images.size(), 1U) << sim.TranscriptText();
    EXPECT_EQ(images[0].Field("size"), "9");
    EXPECT_EQ(images[0].Field("crc32"), "CBF43926");
    EXPECT_EQ(images[0].Field("serial"), "ABC123");
    const auto modes = sim.Events("mode");
    ASSERT_EQ(modes.size(), 1U);
    EXPECT_EQ(modes[0].Field("mode"), "update");
    std::vector<std::string> kinds;
    for (const WireEvent& event : sim.Events("viWrite")) {
        kinds.push_back(event.Field("kind"));
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"command", "data", "endframe"}));
}

TEST(UpdateTest, PadAfterTheLastPieceIsNotImageData)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    SendImage(api, vi, Repeat('x', 292));  // 240 + 52
    ASSERT_EQ(api.WriteText(vi, "@?\n"), visa::VI_SUCCESS);
    ASSERT_EQ(api.WriteText(vi, kEndFrame), visa::VI_SUCCESS);
    // A second image whose last piece is 53 bytes: "@?\n" now is data.
    SendImage(api, vi, Repeat('y', 53));
    ASSERT_EQ(api.WriteText(vi, "@?\n"), visa::VI_SUCCESS);
    ASSERT_EQ(api.WriteText(vi, kEndFrame), visa::VI_SUCCESS);
    const auto images = sim.Events("image");
    ASSERT_EQ(images.size(), 2U);
    EXPECT_EQ(images[0].Field("size"), "292");
    EXPECT_EQ(images[0].Field("index"), "1");
    EXPECT_EQ(images[1].Field("size"), "56");
    EXPECT_EQ(images[1].Field("index"), "2");
}

TEST(UpdateTest, IdentificationInUpdateModeReportsWrongMode)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "SYSTEM:UPDATE\n"), visa::VI_SUCCESS);
    ASSERT_EQ(api.WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
    std::string reply;
    EXPECT_EQ(api.ReadText(vi, reply, 63), visa::VI_SUCCESS);
    EXPECT_EQ(reply, "KORVALEN,ZQ6140,ABC123,WDL\n");
}

struct ScriptCase {
    const char* label;
    const char* replies;
    std::vector<std::string> answers;  // "TMO" for a timeout
};

std::ostream& operator<<(std::ostream& out, const ScriptCase& c)
{
    return out << c.label;
}

class ScriptTest : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptTest, StatusReadsFollowTheScript)
{
    SimInstrument sim(std::string("replies=") + GetParam().replies);
    VirtualClock clock;
    sim.UseClock(clock);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 10000), visa::VI_SUCCESS);
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    std::vector<std::string> answers;
    for (std::size_t i = 0; i < GetParam().answers.size(); ++i) {
        std::string reply;
        const ViStatus status = api.ReadText(vi, reply);
        answers.push_back(status == visa::VI_ERROR_TMO ? "TMO" : HexBytes(BytesOf(reply)));
    }
    EXPECT_EQ(answers, GetParam().answers);
}

INSTANTIATE_TEST_SUITE_P(ReplyScript, ScriptTest,
                         ::testing::Values(ScriptCase{"DefaultAccepts", "", {"30", "30"}},
                                           ScriptCase{"Codes", "1,6,0", {"31", "36", "30", "30"}},
                                           ScriptCase{"Prefixed", "ab2,AB0", {"AB 32", "AB 30"}},
                                           ScriptCase{"Silent", "none,0", {"TMO", "30"}},
                                           ScriptCase{"RawBytes", "hex:41AB00", {"41 AB 00"}}),
                         [](const ::testing::TestParamInfo<ScriptCase>& param) {
                             return std::string(param.param.label);
                         });

struct FaultCase {
    const char* label;
    const char* config;
    std::size_t imageSize;
    std::vector<ViStatus> statuses;
    std::vector<ViUInt32> counts;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c)
{
    return out << c.label;
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, DataWritesFailOrFallShortWhereConfigured)
{
    SimInstrument sim(GetParam().config);
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    const Transfer transfer = SendImage(api, vi, Repeat('z', GetParam().imageSize));
    EXPECT_EQ(transfer.writeStatus, GetParam().statuses);
    EXPECT_EQ(transfer.writeCounts, GetParam().counts);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(FaultCase{"NoFault", "", 600, {0, 0, 0}, {240, 240, 120}},
                      FaultCase{"FailInSecondWrite", "fail_write_after=300", 720, {0, kIoError, kIoError}, {240, 0, 0}},
                      FaultCase{"FailAtFirstByte", "fail_write_after=0", 300, {kIoError, kIoError}, {0, 0}},
                      FaultCase{"FailAfterTheImage", "fail_write_after=600", 600, {0, 0, 0}, {240, 240, 120}},
                      FaultCase{"ShortSecondWrite", "short_write_after=300", 720, {0, 0, 0}, {240, 60, 240}},
                      FaultCase{"ShortLastPiece", "short_write_after=356", 420, {0, 0}, {240, 116}}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.label); });

TEST(FaultTest, FailedEndFrameReportsNothingSent)
{
    SimInstrument sim("fail_endframe=1");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    SendImage(api, vi, "abc");
    ViUInt32 sent = 99;
    EXPECT_EQ(api.WriteText(vi, kEndFrame, &sent), kIoError);
    EXPECT_EQ(sent, 0U);
    EXPECT_TRUE(sim.Events("image").empty());
}

TEST(FaultTest, EndFrameOfOneImageFailsAndKeepsFailing)
{
    SimInstrument sim("fail_endframe_at=2");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    SendImage(api, vi, "abc");
    EXPECT_EQ(api.WriteText(vi, kEndFrame), visa::VI_SUCCESS);
    SendImage(api, vi, "defg");
    ViUInt32 sent = 99;
    EXPECT_EQ(api.WriteText(vi, kEndFrame, &sent), kIoError);
    EXPECT_EQ(sent, 0U);
    // Image 2 never ended, so its frame fails again.
    EXPECT_EQ(api.WriteText(vi, kEndFrame), kIoError);
    const auto images = sim.Events("image");
    ASSERT_EQ(images.size(), 1U) << sim.TranscriptText();
    EXPECT_EQ(images[0].Field("size"), "3");
}

using ViVQueryfFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession, const char*, const char*, va_list);

// Where the stack pointer of the function that calls this stands.
#if defined(_MSC_VER)
__declspec(noinline)
#else
__attribute__((noinline))
#endif
    void StackMark(std::uintptr_t& where)
{
    volatile char mark = 0;
    where = reinterpret_cast<std::uintptr_t>(&mark);
}

// Calls viVQueryf and tells whether the stack pointer came back to where it
// was: a callee with the wrong calling convention leaves it displaced.
ViStatus CallVQueryf(ViVQueryfFn vqueryf, std::ptrdiff_t& displaced, ViSession vi, const char* writeFormat,
                     const char* readFormat, ...)
{
    va_list args;
    va_start(args, readFormat);
    std::uintptr_t before = 0;
    std::uintptr_t after = 0;
    StackMark(before);
    const ViStatus status = vqueryf(vi, writeFormat, readFormat, args);
    StackMark(after);
    va_end(args);
    displaced = static_cast<std::ptrdiff_t>(before - after);
    return status;
}

TEST(FormattedIoTest, ListFormOfQueryfUsesTheStandardCallingConvention)
{
    SimInstrument sim("serials=QX7");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    const auto vqueryf = api.Get<ViVQueryfFn>("viVQueryf");
    char reply[64] = {};
    std::ptrdiff_t displaced = -1;
    EXPECT_EQ(CallVQueryf(vqueryf, displaced, vi, "%s", "%t", "*idn?\n", reply), visa::VI_SUCCESS);
    EXPECT_STREQ(reply, "KORVALEN,ZQ6140,QX7,02.05-11-07\n");
    EXPECT_EQ(displaced, 0) << "bytes the call left on the stack";
}

TEST(FormattedIoTest, QueryfWritesAndReadsSimpleStrings)
{
    SimInstrument sim("serials=QX7");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    char reply[64] = {};
    EXPECT_EQ(api.queryf(vi, "%s", "%t", "*idn?\n", reply), visa::VI_SUCCESS);
    EXPECT_STREQ(reply, "KORVALEN,ZQ6140,QX7,02.05-11-07\n");
    char word[8] = {};
    int size = static_cast<int>(sizeof word);
    EXPECT_EQ(api.queryf(vi, "*idn?\n", "%#s", &size, word), visa::VI_SUCCESS);
    EXPECT_STREQ(word, "KORVALE") << "cut to the size given";
    EXPECT_EQ(size, 7);
    EXPECT_EQ(sim.Writes().size(), 2U);
}

}  // namespace
}  // namespace meterload::testing
