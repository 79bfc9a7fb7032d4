// The USB library through the real libusb against emulated ZQ6140s: the
// search and names, USBTMC framing with the packet boundaries the device
// sees, and recovery from the faults a real device or bus shows.
#include "tests/sim/visa_api.h"
#include "tests/usb/emulated_bus.h"
#include "visa_surface/visa_constants.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace meterload::testing {
namespace {

using visa::ViByte;

constexpr const char* kAll = "USB?*::0x1D47::0x0B62::?*INSTR";

class UsbTransportTest : public ::testing::Test {
protected:
    // False when umockdev cannot start here; the test is then skipped.
    bool Start(const std::string& instruments, const std::map<std::string, UsbFaults>& faults = {})
    {
        bus_ = std::make_unique<EmulatedBus>(instruments, faults);
        if (!bus_->Started()) {
            return false;
        }
        api_ = std::make_unique<VisaApi>(USBTMC_LIBRARY_PATH);
        return true;
    }

    void TearDown() override
    {
        api_.reset();  // the library lets go of the devices before the bus goes
        bus_.reset();
    }

    ViSession Open(const std::string& serial, ViUInt32 timeoutMs = 300)
    {
        const ViSession vi = api_->OpenSerial(serial);
        EXPECT_NE(vi, visa::VI_NULL) << "cannot open " << serial;
        EXPECT_EQ(api_->setAttribute(vi, visa::VI_ATTR_TMO_VALUE, timeoutMs), visa::VI_SUCCESS);
        return vi;
    }

    std::vector<std::string> Search(const char* expression)
    {
        std::vector<std::string> names;
        ViSession rm = visa::VI_NULL;
        EXPECT_EQ(api_->openDefaultRM(&rm), visa::VI_SUCCESS);
        char name[visa::VI_FIND_BUFLEN] = {};
        ViUInt32 count = 0;
        visa::ViFindList list = 0;
        if (api_->findRsrc(rm, expression, &list, &count, name) == visa::VI_SUCCESS) {
            names.push_back(name);
            while (names.size() < count && api_->findNext(list, name) == visa::VI_SUCCESS) {
                names.push_back(name);
            }
        }
        api_->close(rm);
        return names;
    }

    // The packets of the bulk-out transfers since `from`.
    std::vector<std::size_t> PacketsSince(const std::string& serial, std::size_t from) const
    {
        const std::vector<std::size_t> all = bus_->OutPackets(serial);
        return std::vector<std::size_t>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
    }

    std::unique_ptr<EmulatedBus> bus_;
    std::unique_ptr<VisaApi> api_;
};

#define START_OR_SKIP(...)                                                       \
    if (!Start(__VA_ARGS__)) {                                                   \
        GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted(); \
    }

TEST_F(UsbTransportTest, FindsEveryMeterUnderBoardZeroAndOpensItUnderAnyBoard)
{
    START_OR_SKIP("serials=AAA111,BBB222,CCC333");
    // The board is VISA's number, not the USB bus (1 here).
    EXPECT_EQ(Search(kAll),
              (std::vector<std::string>{"USB0::0x1D47::0x0B62::AAA111::INSTR", "USB0::0x1D47::0x0B62::BBB222::INSTR",
                                        "USB0::0x1D47::0x0B62::CCC333::INSTR"}));
    EXPECT_EQ(Search("USB[0-9]*::0x1D47::0x0B62::BBB?*INSTR"),
              std::vector<std::string>{"USB0::0x1D47::0x0B62::BBB222::INSTR"});
    EXPECT_TRUE(Search("USB1::?*").empty()) << "the bus number is not the board";
    EXPECT_TRUE(Search("USB[0-9]*::7495::2914::?*INSTR").empty()) << "names are in hex";

    const ViSession vi = Open("ccc333");
    char serial[visa::VI_FIND_BUFLEN] = {};
    ASSERT_EQ(api_->getAttribute(vi, 0xBFFF01A0UL, serial), visa::VI_SUCCESS);
    EXPECT_STREQ(serial, "CCC333");
    visa::ViUInt16 board = 99;
    ASSERT_EQ(api_->getAttribute(vi, 0x3FFF0176UL, &board), visa::VI_SUCCESS);
    EXPECT_EQ(board, 0);

    ViSession other = visa::VI_NULL;
    ASSERT_EQ(api_->open(api_->rm, "USB3::0x1D47::0x0B62::AAA111::INSTR", 0, 0, &other), visa::VI_SUCCESS);
    ASSERT_EQ(api_->getAttribute(other, 0x3FFF0176UL, &board), visa::VI_SUCCESS);
    EXPECT_EQ(board, 3) << "the board the session was opened with";
    EXPECT_EQ(api_->Ask(other, "*idn?\n"), "KORVALEN,ZQ6140,AAA111,02.05-11-07\n");
}

TEST_F(UsbTransportTest, OpeningClaimsTheInterfaceAndClosingGivesItBack)
{
    START_OR_SKIP("serials=ABC123");
    const auto claims = [&] {
        std::vector<std::string> seen;
        for (const WireEvent& event : bus_->Transcript("ABC123")) {
            if (event.name == "claim" || event.name == "release" || event.name == "attach") {
                seen.push_back(event.name + " " + event.Field("interface") +
                               (event.Has("detach") ? " detach=" + event.Field("detach") : ""));
            }
        }
        return seen;
    };
    const ViSession vi = Open("ABC123");
    // The kernel's driver is detached as the interface is claimed.
    EXPECT_EQ(claims(), std::vector<std::string>{"claim 0 detach=1"});
    EXPECT_EQ(api_->close(vi), visa::VI_SUCCESS);
    EXPECT_EQ(claims(), (std::vector<std::string>{"claim 0 detach=1", "release 0 detach=0", "attach 0"}))
        << "the kernel's driver gets the interface back";
    EXPECT_EQ(api_->Ask(Open("ABC123"), "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n") << "opened again";
}

TEST_F(UsbTransportTest, QueryGoesOutAsOneMessageAndOneRequest)
{
    START_OR_SKIP("serials=ABC123");
    const ViSession vi = Open("ABC123");
    EXPECT_EQ(api_->Ask(vi, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
    // 12 + 6 bytes, aligned to 20; then the 12-byte request for the reply.
    EXPECT_EQ(bus_->OutPackets("ABC123"), (std::vector<std::size_t>{20, 12}));
    const auto writes = bus_->Writes("ABC123");
    ASSERT_EQ(writes.size(), 1U);
    EXPECT_EQ(HexBytes(writes[0]), HexBytes(BytesOf("*idn?\n")));
}

TEST_F(UsbTransportTest, EachWriteIsOneMessageWithNoZeroLengthPacketAdded)
{
    struct Case {
        ViUInt32 size;
        std::vector<std::size_t> packets;
    };
    // Header and data fill whole packets for 52, 116 and 180 bytes: the
    // pad command that follows them is the update link's own answer.
    const Case cases[] = {
        {52, {64}}, {116, {64, 64}}, {180, {64, 64, 64}}, {53, {64, 4}}, {240, {64, 64, 64, 60}}, {3, {16}},
    };
    START_OR_SKIP("serials=ABC123");
    const ViSession vi = Open("ABC123");
    ASSERT_EQ(api_->WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::size_t before = bus_->OutPackets("ABC123").size();
        ViUInt32 sent = 0;
        EXPECT_EQ(api_->WriteText(vi, std::string(c.size, 'd'), &sent), visa::VI_SUCCESS);
        EXPECT_EQ(sent, c.size);
        EXPECT_EQ(PacketsSince("ABC123", before), c.packets);
    }
    EXPECT_EQ(bus_->Instrument("ABC123").updateBytes, 52U + 116 + 180 + 53 + 240 + 3);
}

TEST_F(UsbTransportTest, RepliesThatFillTheirPacketsDoNotSpillIntoTheNextRead)
{
    struct Case {
        const char* name;
        FullPacketEnd end;
        std::size_t replySize;  // with the 12-byte header: 64, 128, or a short packet
        ViUInt32 readSize;
    };
    const Case cases[] = {
        {"zero-length packet, one packet", FullPacketEnd::ZeroLengthPacket, 52, 52},
        {"padding, one packet", FullPacketEnd::Padding, 52, 52},
        {"nothing after it, one packet", FullPacketEnd::Nothing, 52, 52},
        {"zero-length packet, two packets", FullPacketEnd::ZeroLengthPacket, 116, 116},
        {"padding, two packets", FullPacketEnd::Padding, 116, 116},
        {"nothing after it, two packets", FullPacketEnd::Nothing, 116, 116},
        // A read for more than the reply: the transfer must end at the
        // announced size, not wait for a short packet that never comes.
        {"nothing after it, larger read", FullPacketEnd::Nothing, 116, 1000},
        {"zero-length packet, larger read", FullPacketEnd::ZeroLengthPacket, 52, 1000},
        {"short packet", FullPacketEnd::Padding, 30, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reply = std::string(c.replySize - 1, 'r') + "\n";
        UsbFaults faults;
        faults.fullPacketEnd = c.end;
        if (!Start("serials=ABC123\nidn=" + reply.substr(0, reply.size() - 1) + "\\n", {{"ABC123", faults}})) {
            GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted();
        }
        const ViSession vi = Open("ABC123");
        for (const char* which : {"first", "second"}) {
            std::string got;
            ASSERT_EQ(api_->WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
            const auto started = std::chrono::steady_clock::now();
            EXPECT_EQ(api_->ReadText(vi, got, c.readSize), visa::VI_SUCCESS) << which;
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300))
                << which << " read waited out its timeout";
            EXPECT_EQ(got, reply) << which << " read";
        }
        TearDown();
    }
}

TEST_F(UsbTransportTest, AReplyOverSeveralTransfersIsReadWhole)
{
    UsbFaults faults;
    faults.splitReplyAfter = 5;
    START_OR_SKIP("serials=ABC123", {{"ABC123", faults}});
    const ViSession vi = Open("ABC123");
    EXPECT_EQ(api_->Ask(vi, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
}

TEST_F(UsbTransportTest, AReadLongerThanItsCountEndsOnTheNextRead)
{
    START_OR_SKIP("serials=ABC123");
    const ViSession vi = Open("ABC123");
    ASSERT_EQ(api_->WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
    std::string first;
    std::string rest;
    EXPECT_EQ(api_->ReadText(vi, first, 10), visa::VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(api_->ReadText(vi, rest, 100), visa::VI_SUCCESS);
    EXPECT_EQ(first + rest, "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
}

TEST_F(UsbTransportTest, AfterAFaultyReplyTheNextQueryWorks)
{
    struct Case {
        const char* name;
        UsbFaults faults;
        ViStatus status;
        const char* firstReply;
    };
    UsbFaults silent;
    silent.silentRequests = 1;
    UsbFaults wrongTag;
    wrongTag.wrongTags = 1;
    UsbFaults wrongId;
    wrongId.wrongMsgIds = 1;
    UsbFaults noEnd;
    noEnd.neverEndOfMessage = true;
    UsbFaults busy = silent;
    busy.pendingChecks = 5;
    const std::string identity = "KORVALEN,ZQ6140,ABC123,02.05-11-07\n";
    const Case cases[] = {
        {"no reply", silent, visa::VI_ERROR_TMO, ""},
        // The abort is asked after for 250 ms before the device finishes it.
        {"no reply, abort pending a while", busy, visa::VI_ERROR_TMO, ""},
        {"wrong bTag", wrongTag, visa::VI_ERROR_IO, ""},
        {"wrong MsgID", wrongId, visa::VI_ERROR_IO, ""},
        // The reply arrives; the request for its end waits out the timeout.
        {"end of message never set", noEnd, visa::VI_ERROR_TMO, identity.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!Start("serials=ABC123", {{"ABC123", c.faults}})) {
            GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted();
        }
        const ViSession vi = Open("ABC123", 300);
        std::string reply;
        ASSERT_EQ(api_->WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(api_->ReadText(vi, reply, 200), c.status);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(reply, c.firstReply);
        if (c.status == visa::VI_ERROR_TMO) {
            EXPECT_GE(took, std::chrono::milliseconds(300)) << "the session's timeout was not waited";
        }
        ASSERT_EQ(api_->WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
        const ViStatus next = api_->ReadText(vi, reply, 200);
        EXPECT_EQ(reply, identity);
        EXPECT_EQ(next, c.faults.neverEndOfMessage ? visa::VI_ERROR_TMO : visa::VI_SUCCESS);
        TearDown();
    }
}

TEST_F(UsbTransportTest, AHaltedBulkOutIsClearedForTheNextWrite)
{
    UsbFaults faults;
    faults.haltedBulkOuts = 1;
    START_OR_SKIP("serials=ABC123", {{"ABC123", faults}});
    const ViSession vi = Open("ABC123");
    ViUInt32 sent = 99;
    EXPECT_EQ(api_->WriteText(vi, "L0\n", &sent), visa::VI_ERROR_IO);
    EXPECT_EQ(sent, 0U);
    EXPECT_EQ(api_->Ask(vi, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
}

TEST_F(UsbTransportTest, AMeterUnpluggedMidWriteIsLostFromThenOn)
{
    // However the host controller reports the unplug first: "no device", or
    // protocol errors for a while before the node goes.
    for (const int protocolErrors : {0, 3}) {
        SCOPED_TRACE(protocolErrors);
        UsbFaults faults;
        faults.unplugAfterBytes = 100;  // 28 bytes of system:update, then 72 of the data write
        faults.protocolErrorsAtUnplug = protocolErrors;
        if (!Start("serials=ABC123,DEF456", {{"ABC123", faults}})) {
            GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted();
        }
        const ViSession vi = Open("ABC123");
        ASSERT_EQ(api_->WriteText(vi, "system:update\n"), visa::VI_SUCCESS);
        ViUInt32 sent = 0;
        EXPECT_EQ(api_->WriteText(vi, std::string(240, 'd'), &sent), visa_surface::VI_ERROR_CONN_LOST)
            << "on the very call that met the unplug";
        if (protocolErrors == 0) {
            EXPECT_EQ(sent, 60U) << "what arrived after the 12-byte header";
        }
        std::string reply;
        EXPECT_EQ(api_->ReadText(vi, reply), visa_surface::VI_ERROR_CONN_LOST);
        EXPECT_EQ(api_->WriteText(vi, "*idn?\n"), visa_surface::VI_ERROR_CONN_LOST);
        EXPECT_EQ(Search(kAll), std::vector<std::string>{"USB0::0x1D47::0x0B62::DEF456::INSTR"});
        const ViSession other = Open("DEF456");
        EXPECT_EQ(api_->Ask(other, "*idn?\n"), "KORVALEN,ZQ6140,DEF456,02.05-11-07\n") << "the other meter carries on";
        TearDown();
    }
}

TEST_F(UsbTransportTest, ADeviceClearDropsTheReplyNotReadOrSaysItFailed)
{
    struct Case {
        const char* name;
        UsbFaults faults;
        ViStatus status;
    };
    UsbFaults pending;
    pending.pendingChecks = 8;
    UsbFaults refused;
    refused.refuseClear = true;
    const Case cases[] = {
        {"finished at once", UsbFaults{}, visa::VI_SUCCESS},
        {"pending a while", pending, visa::VI_SUCCESS},
        {"refused", refused, visa::VI_ERROR_IO},
    };
    using ViClearFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!Start("serials=ABC123", {{"ABC123", c.faults}})) {
            GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted();
        }
        const ViSession vi = Open("ABC123");
        ASSERT_EQ(api_->WriteText(vi, "*idn?\n"), visa::VI_SUCCESS);
        EXPECT_EQ(api_->Get<ViClearFn>("viClear")(vi), c.status);
        if (c.status == visa::VI_SUCCESS) {
            std::string reply;
            EXPECT_EQ(api_->ReadText(vi, reply), visa::VI_ERROR_TMO) << "the reply was dropped";
        }
        EXPECT_EQ(api_->Ask(vi, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
        TearDown();
    }
}

TEST_F(UsbTransportTest, LeftoversOfAnEarlierSessionOrReplyAreSkipped)
{
    struct Case {
        const char* name;
        UsbFaults faults;
    };
    UsbFaults stale;
    stale.staleReplies = 2;
    UsbFaults stray;
    stray.strayZeroLengthPackets = 2;
    for (const Case& c : {Case{"stale reply with an earlier bTag", stale}, Case{"stray zero-length packet", stray},
                          Case{"query left unread by the session before", UsbFaults{}}}) {
        SCOPED_TRACE(c.name);
        if (!Start("serials=ABC123", {{"ABC123", c.faults}})) {
            GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted();
        }
        // A session that asks and goes without reading, as an interrupted run does.
        const ViSession before = Open("ABC123");
        ASSERT_EQ(api_->WriteText(before, "*idn?\n"), visa::VI_SUCCESS);
        ASSERT_EQ(api_->close(before), visa::VI_SUCCESS);
        const ViSession vi = Open("ABC123");
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(api_->Ask(vi, "*idn?\n"), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n") << "query " << i;
        }
        TearDown();
    }
}

TEST_F(UsbTransportTest, RenIsAssertedWhereTheInterfaceDeclaresIt)
{
    for (const bool ren : {true, false}) {
        SCOPED_TRACE(ren);
        UsbFaults faults;
        faults.renControl = ren;
        if (!Start("serials=ABC123", {{"ABC123", faults}})) {
            GTEST_SKIP() << "umockdev cannot start here: " << bus_->WhyNotStarted();
        }
        Open("ABC123");
        std::vector<std::string> requests;
        for (const WireEvent& event : bus_->Transcript("ABC123")) {
            if (event.name == "control") {
                requests.push_back(event.Field("request"));
            }
        }
        // GET_CAPABILITIES, REN_CONTROL where declared, then the clear.
        EXPECT_EQ(requests,
                  ren ? (std::vector<std::string>{"7", "160", "5", "6"}) : (std::vector<std::string>{"7", "5", "6"}));
        TearDown();
    }
}

}  // namespace
}  // namespace meterload::testing
