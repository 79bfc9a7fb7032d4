// The VISA binding through the real run-time loading path, against the
// simulated instrument and its variants that lack one function each.
#include "link/instrument_connection.h"

#include "link/update_link.h"
#include "tests/support/sim_instrument.h"
#include "tests/support/slow_wire_clock.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace meterload {
namespace {

using std::chrono::milliseconds;
using testing::SimInstrument;
using testing::SlowWireClock;
using testing::VirtualClock;
using testing::WireEvent;

// Whether the process still has `path` loaded, without loading it.
bool LibraryIsLoaded(const std::string& path)
{
#ifdef _WIN32
    return GetModuleHandleA(path.c_str()) != nullptr;
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
#endif
}

std::vector<std::string> CallNames(const SimInstrument& sim)
{
    std::vector<std::string> names;
    for (const auto& event : sim.Transcript()) {
        if (event.name.rfind("vi", 0) == 0) {
            names.push_back(event.name);
        }
    }
    return names;
}

class InstrumentConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { sim_.UseClock(clock_); }

    std::unique_ptr<InstrumentConnection> OpenWith(const std::string& config)
    {
        EXPECT_TRUE(sim_.Configure(config)) << config;
        auto connection = std::make_unique<InstrumentConnection>(clock_, sim_.LibraryPath());
        connection->Open();
        return connection;
    }

    VirtualClock clock_;
    SimInstrument sim_;
};

struct OpenCase {
    const char* name;
    const char* config;
    std::uint32_t found;
    const char* serial;
    int searches;  // how many patterns were tried
};

void PrintTo(const OpenCase& c, std::ostream* os)
{
    *os << c.name;
}

class OpenOutcome : public InstrumentConnectionTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenOutcome, FindsAndOpensTheFirstMatchingInstrument)
{
    const OpenCase& c = GetParam();
    auto connection = OpenWith(c.config);
    EXPECT_EQ(connection->FoundCount(), c.found) << connection->Diagnostic();
    EXPECT_EQ(connection->IsOpen(), c.found > 0);
    EXPECT_EQ(connection->SerialNumber(), c.serial);

    const auto calls = CallNames(sim_);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "viFindRsrc"), c.searches);
    if (c.found > 0) {
        // Opened with no lock and the 10-second timeout.
        const auto events = sim_.Transcript();
        const auto open = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.name == "viOpen"; });
        ASSERT_NE(open, events.end());
        EXPECT_EQ(open->Field("mode"), "0");
        const auto attribute =
            std::find_if(events.begin(), events.end(), [](const auto& e) { return e.name == "viSetAttribute"; });
        ASSERT_NE(attribute, events.end());
        EXPECT_EQ(attribute->Field("attr"), "0x3FFF001A");
        EXPECT_EQ(attribute->Field("value"), "10000");
    } else {
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "viOpen"), 0);
    }
    connection->Close();
}

INSTANTIATE_TEST_SUITE_P(Search, OpenOutcome,
                         ::testing::Values(OpenCase{"Hex", "serials=ABC123\nenumerate=hex\n", 1, "ABC123", 1},
                                           OpenCase{"DecimalOnly", "serials=ABC123\nenumerate=decimal\n", 1, "ABC123",
                                                    2},
                                           OpenCase{"Both", "serials=ABC123\nenumerate=both\n", 1, "ABC123", 1},
                                           OpenCase{"TwoInstruments", "serials=DEF456,ABC123\n", 2, "DEF456", 1},
                                           OpenCase{"NoInstrument", "serials=\n", 0, "", 2},
                                           OpenCase{"NoResourceManager", "no_rm=1\n", 0, "", 0}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(InstrumentConnectionTest, MissingLibraryFindsNothing)
{
    InstrumentConnection connection(clock_, sim_.LibraryPath() + ".missing");
    connection.Open();
    EXPECT_EQ(connection.FoundCount(), 0u);
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_FALSE(connection.Diagnostic().empty());
    EXPECT_EQ(connection.Write("L0\n", 3), 0u);
    connection.Close();
}

TEST_F(InstrumentConnectionTest, LibraryLackingAnyOfTheNineFunctionsIsRejected)
{
    for (const char* function : {"viOpenDefaultRM", "viFindRsrc", "viClose", "viOpen", "viFindNext", "viQueryf",
                                 "viWrite", "viRead", "viSetAttribute"}) {
        InstrumentConnection connection(clock_, testing::SimVariantPath(function));
        connection.Open();
        EXPECT_EQ(connection.FoundCount(), 0u) << function;
        EXPECT_FALSE(connection.IsOpen()) << function;
        EXPECT_NE(connection.Diagnostic().find(function), std::string::npos) << connection.Diagnostic();
        EXPECT_FALSE(LibraryIsLoaded(testing::SimVariantPath(function))) << function;
    }
}

TEST_F(InstrumentConnectionTest, WritesExactBytesAndPausesAfterEach)
{
    auto connection = OpenWith("");
    ASSERT_EQ(connection->FoundCount(), 1u);
    const auto before = clock_.Now();
    EXPECT_EQ(connection->Write("L0\n", 3), 3u);
    EXPECT_EQ(connection->Write("*idn?\n", 6), 6u);
    EXPECT_EQ(clock_.Now() - before, milliseconds(20));

    char reply[64];
    const std::uint32_t received = connection->Read(reply, sizeof reply);
    EXPECT_EQ(std::string(reply, received), "KORVALEN,ZQ6140,ABC123,02.05-11-07\n");
    EXPECT_EQ(reply[received], '\0');

    EXPECT_EQ(connection->SendEndFrame(), 10u);
    const auto writes = sim_.Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], std::vector<std::uint8_t>({'L', '0', '\n'}));
    EXPECT_EQ(writes[2], std::vector<std::uint8_t>(kEndFrame.begin(), kEndFrame.end()));
    connection->Close();
}

// A write over a slow wire: its 10 ms count from when the write returned,
// however long it took, and a pause that follows it counts from there too.
TEST_F(InstrumentConnectionTest, WritePauseCountsFromTheEndOfTheWrite)
{
    auto connection = OpenWith("");
    ASSERT_EQ(connection->FoundCount(), 1u);
    SlowWireClock wire(clock_, milliseconds(3));
    sim_.UseClock(wire);
    clock_.SetLateness(std::chrono::microseconds(400));

    const auto before = clock_.Now();
    EXPECT_EQ(connection->Write("L0\n", 3), 3u);
    sim_.UseClock(clock_);
    // The call itself took 3 ms at least, and the pause woke 0.4 ms late.
    EXPECT_GE(connection->WritePauseEnd(), before + milliseconds(3) + milliseconds(10));
    EXPECT_EQ(clock_.Now(), connection->WritePauseEnd() + std::chrono::microseconds(400));
}

TEST_F(InstrumentConnectionTest, OnlyPlainSuccessCountsAsAWrite)
{
    const std::vector<std::uint8_t> chunk(240, 0x5A);
    {
        auto connection = OpenWith("fail_write_after=100\n");
        connection->Write("system:update\n", 14);
        EXPECT_EQ(connection->Write(chunk.data(), 240), 0u);
        connection->Close();
    }
    {
        auto connection = OpenWith("short_write_after=100\n");
        connection->Write("system:update\n", 14);
        EXPECT_EQ(connection->Write(chunk.data(), 240), 100u);
        EXPECT_EQ(connection->Write(chunk.data(), 240), 240u);
        connection->Close();
    }
}

TEST_F(InstrumentConnectionTest, ReplyThatFillsTheBufferIsStillTerminatedInside)
{
    const std::string longReply(80, 'x');
    auto connection = OpenWith("idn=" + longReply + "\\n\n");
    connection->Write("*idn?\n", 6);

    char reply[64];
    std::fill(std::begin(reply), std::end(reply), '#');
    EXPECT_EQ(connection->Read(reply, sizeof reply), 63u);
    EXPECT_EQ(reply[63], '\0');

    char small[8];
    std::fill(std::begin(small), std::end(small), '#');
    EXPECT_EQ(connection->Read(small, sizeof small), 7u);
    EXPECT_EQ(small[7], '\0');
    connection->Close();
}

TEST_F(InstrumentConnectionTest, SilentInstrumentGivesAnEmptyReplyAfterTheTimeout)
{
    auto connection = OpenWith("replies=none\n");
    connection->Write("system:update\n", 14);
    const auto before = clock_.Now();
    std::uint8_t reply[240];
    reply[0] = 0x55;
    EXPECT_EQ(connection->Read(reply, sizeof reply), 0u);
    EXPECT_EQ(reply[0], 0);
    EXPECT_GE(clock_.Now() - before, milliseconds(10000));
    connection->Close();
}

TEST_F(InstrumentConnectionTest, NothingGoesOutAfterClose)
{
    auto connection = OpenWith("");
    connection->Close();
    EXPECT_FALSE(connection->IsOpen());
    EXPECT_EQ(connection->FoundCount(), 0u);
    const auto before = clock_.Now();
    EXPECT_EQ(connection->Write("L0\n", 3), 0u);
    char reply[16] = "stale";
    EXPECT_EQ(connection->Read(reply, sizeof reply), 0u);
    EXPECT_EQ(reply[0], '\0');
    EXPECT_EQ(clock_.Now(), before) << "a write on a closed connection must not pause";
    EXPECT_EQ(CallNames(sim_).back(), "viSetAttribute");
}

// Unloading releases the sessions only when nobody else holds the library:
// a connection told that another holder keeps it closes them itself, the
// instrument's and then the resource manager's, both accepted. The find list
// of the search is closed in either case, before the instrument is opened.
TEST_F(InstrumentConnectionTest, ClosesItsSessionsWhenTheLibraryStaysLoaded)
{
    for (const bool heldElsewhere : {false, true}) {
        SCOPED_TRACE(heldElsewhere ? "held elsewhere" : "held only by the connection");
        ASSERT_TRUE(sim_.Configure(""));
        InstrumentConnection connection(clock_, sim_.LibraryPath());
        connection.SetLibraryHeldElsewhere(heldElsewhere);
        connection.Open();
        ASSERT_EQ(connection.FoundCount(), 1u);
        connection.Close();

        std::vector<std::string> closes;
        for (const auto& event : sim_.Transcript()) {
            if (event.name == "viClose") {
                closes.push_back(event.Field("status"));
            }
        }
        const auto calls = CallNames(sim_);
        const auto list = std::find(calls.begin(), calls.end(), "viClose");
        ASSERT_NE(list, calls.end()) << sim_.TranscriptText();
        EXPECT_EQ(*(list - 1), "viFindRsrc");
        if (heldElsewhere) {
            EXPECT_EQ(closes, (std::vector<std::string>(3, "0x00000000"))) << sim_.TranscriptText();
            ASSERT_GE(calls.size(), 3u);
            EXPECT_EQ(calls[calls.size() - 3], "viSetAttribute");
        } else {
            EXPECT_EQ(closes, (std::vector<std::string>{"0x00000000"})) << sim_.TranscriptText();
            EXPECT_EQ(calls.back(), "viSetAttribute");
        }
    }
}

// The VISA objects a transcript shows opened (resource managers, find lists,
// instrument sessions) and those it shows closed with success, by handle.
struct ObjectLedger {
    std::vector<std::string> opened;
    std::vector<std::string> closed;
};

ObjectLedger Objects(const std::vector<WireEvent>& events)
{
    static const std::pair<const char*, const char*> openers[] = {{"viOpenDefaultRM", "rm"},
                                                                  {"viFindRsrc", "list"},
                                                                  {"viOpen", "vi"}};
    ObjectLedger ledger;
    for (const WireEvent& event : events) {
        for (const auto& [name, field] : openers) {
            if (event.name == name && event.Field("status") == "0x00000000" && event.Field(field) != "0") {
                ledger.opened.push_back(event.Field(field));
            }
        }
        if (event.name == "viClose" && event.Field("status") == "0x00000000") {
            ledger.closed.push_back(event.Field("object"));
        }
    }
    std::sort(ledger.opened.begin(), ledger.opened.end());
    std::sort(ledger.closed.begin(), ledger.closed.end());
    return ledger;
}

enum class Way { Open, OpenSerial, FindAll };

struct LifetimeCase {
    const char* name;
    const char* config;
    Way way;
    bool opens;  // the instrument is open afterwards
    OpenFailure failure;
    int lists;  // find lists the search opened
};

void PrintTo(const LifetimeCase& c, std::ostream* os)
{
    *os << c.name;
}

class VisaObjectLifetime : public InstrumentConnectionTest, public ::testing::WithParamInterface<LifetimeCase> {};

// Every object a connection opens it closes exactly once: each find list as
// soon as its search is done, the sessions when nothing was found or at
// Close. The library is held elsewhere here, so nothing is left to the unload.
TEST_P(VisaObjectLifetime, ClosesEveryObjectItOpened)
{
    const LifetimeCase& c = GetParam();
    ASSERT_TRUE(sim_.Configure(c.config));
    InstrumentConnection connection(clock_, sim_.LibraryPath());
    connection.SetLibraryHeldElsewhere(true);
    switch (c.way) {
    case Way::Open: connection.Open(); break;
    case Way::OpenSerial: connection.OpenSerial("DEF456"); break;
    case Way::FindAll: connection.FindAll(); break;
    }
    EXPECT_EQ(connection.IsOpen(), c.opens);
    EXPECT_EQ(connection.Failure(), c.failure) << connection.Diagnostic();

    const auto lists = sim_.Events("viFindRsrc");
    const auto opened =
        std::count_if(lists.begin(), lists.end(), [](const WireEvent& e) { return e.Field("status") == "0x00000000"; });
    EXPECT_EQ(opened, c.lists) << sim_.TranscriptText();
    const ObjectLedger beforeClose = Objects(sim_.Transcript());
    for (const WireEvent& list : lists) {
        if (list.Field("status") == "0x00000000") {
            EXPECT_EQ(std::count(beforeClose.closed.begin(), beforeClose.closed.end(), list.Field("list")), 1)
                << "find list " << list.Field("list") << " still open\n"
                << sim_.TranscriptText();
        }
    }

    connection.Close();
    const ObjectLedger ledger = Objects(sim_.Transcript());
    if (c.failure != OpenFailure::ResourceManager) {
        EXPECT_FALSE(ledger.opened.empty()) << "the resource manager at least";
    }
    EXPECT_EQ(ledger.closed, ledger.opened) << sim_.TranscriptText();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, VisaObjectLifetime,
    ::testing::Values(
        LifetimeCase{"OpenHex", "serials=ABC123\n", Way::Open, true, OpenFailure::None, 1},
        LifetimeCase{"OpenDecimalOnly", "serials=ABC123\nenumerate=decimal\n", Way::Open, true, OpenFailure::None, 1},
        LifetimeCase{"OpenOfTwo", "serials=ABC123,DEF456\n", Way::Open, true, OpenFailure::None, 1},
        LifetimeCase{"OpenNothingAttached", "serials=\n", Way::Open, false, OpenFailure::NotFound, 0},
        LifetimeCase{"OpenNoResourceManager", "no_rm=1\n", Way::Open, false, OpenFailure::ResourceManager, 0},
        LifetimeCase{"SerialSecondOfTwo", "serials=ABC123,DEF456\nenumerate=both\n", Way::OpenSerial, true,
                     OpenFailure::None, 1},
        LifetimeCase{"SerialDecimalOnly", "serials=DEF456\nenumerate=decimal\n", Way::OpenSerial, true,
                     OpenFailure::None, 1},
        LifetimeCase{"SerialAbsent", "serials=ABC123\nenumerate=both\n", Way::OpenSerial, false, OpenFailure::NotFound,
                     2},
        LifetimeCase{"SerialNoResourceManager", "no_rm=1\n", Way::OpenSerial, false, OpenFailure::ResourceManager, 0},
        LifetimeCase{"FindAllBothForms", "serials=ABC123,DEF456\nenumerate=both\n", Way::FindAll, false,
                     OpenFailure::None, 2},
        LifetimeCase{"FindAllNothingAttached", "serials=\n", Way::FindAll, false, OpenFailure::NotFound, 0}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload
