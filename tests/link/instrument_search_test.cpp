// Finding every attached ZQ6140 and opening one by its serial number, through
// the real binding against the simulated instruments.
#include "link/instrument_connection.h"

#include "tests/support/sim_instrument.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace meterload {
namespace {

using testing::SimInstrument;
using testing::VirtualClock;

class InstrumentSearchTest : public ::testing::Test {
protected:
    void SetUp() override { sim_.UseClock(clock_); }

    void Configure(const std::string& config) { ASSERT_TRUE(sim_.Configure(config)) << config; }

    VirtualClock clock_;
    SimInstrument sim_;
};

std::vector<std::string> Serials(const InstrumentSearch& search)
{
    std::vector<std::string> serials;
    for (const FoundInstrument& found : search.instruments) {
        serials.push_back(found.serial);
    }
    return serials;
}

struct SearchCase {
    const char* name;
    const char* config;
    std::vector<std::string> serials;
    const char* firstResource;
};

class FindAllCase : public InstrumentSearchTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(FindAllCase, ListsEachInstrumentOnceWhateverFindsIt)
{
    const SearchCase& c = GetParam();
    Configure(c.config);
    InstrumentConnection connection(clock_, sim_.LibraryPath());
    const InstrumentSearch search = connection.FindAll();
    EXPECT_EQ(Serials(search), c.serials);
    EXPECT_TRUE(search.resourceManagerOpened);
    EXPECT_EQ(connection.Failure(), c.serials.empty() ? OpenFailure::NotFound : OpenFailure::None);
    if (!c.serials.empty()) {
        EXPECT_EQ(search.instruments.front().resource, c.firstResource);
    }
    // Nothing stays open: the library is unloaded again.
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_TRUE(sim_.Events("viOpen").empty());
}

INSTANTIATE_TEST_SUITE_P(Enumerations, FindAllCase,
                         ::testing::Values(SearchCase{"Hex",
                                                      "serials=ABC123,DEF456\n",
                                                      {"ABC123", "DEF456"},
                                                      "USB0::0x1D47::0x0B62::ABC123::INSTR"},
                                           SearchCase{"Decimal",
                                                      "serials=ABC123,DEF456\nenumerate=decimal\n",
                                                      {"ABC123", "DEF456"},
                                                      "USB0::7495::2914::ABC123::INSTR"},
                                           SearchCase{"BothFormsAreOneInstrument",
                                                      "serials=DEF456,ABC123,GHI789\nenumerate=both\n",
                                                      {"DEF456", "ABC123", "GHI789"},
                                                      "USB0::0x1D47::0x0B62::DEF456::INSTR"},
                                           SearchCase{"None", "serials=\n", {}, ""}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(InstrumentSearchTest, FindAllTellsWhichLibraryAndImplementationAnswered)
{
    Configure("serials=ABC123\n");
    InstrumentConnection connection(clock_, sim_.LibraryPath());
    const InstrumentSearch search = connection.FindAll();
    EXPECT_EQ(std::filesystem::path(search.libraryPath), std::filesystem::absolute(sim_.LibraryPath()));
    EXPECT_EQ(search.implementation, "MeterLoad simulated instrument, implementation version 0x00100000");
}

struct FailureCase {
    const char* name;
    const char* library;  // "": the simulator; "missing": no file; else the variant lacking it
    const char* config;
    OpenFailure failure;
};

class SearchFailure : public InstrumentSearchTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SearchFailure, SaysWhyNothingWasFound)
{
    const FailureCase& c = GetParam();
    Configure(c.config);
    const std::string which = c.library;
    const std::string library = which.empty()        ? sim_.LibraryPath()
                                : which == "missing" ? sim_.LibraryPath() + ".missing"
                                                     : testing::SimVariantPath(which);

    InstrumentConnection finder(clock_, library);
    const InstrumentSearch search = finder.FindAll();
    EXPECT_TRUE(search.instruments.empty());
    EXPECT_EQ(finder.Failure(), c.failure) << finder.Diagnostic();

    InstrumentConnection opener(clock_, library);
    opener.OpenSerial("ABC123");
    EXPECT_EQ(opener.FoundCount(), 0u);
    EXPECT_FALSE(opener.IsOpen());
    EXPECT_EQ(opener.Failure(), c.failure) << opener.Diagnostic();
    EXPECT_FALSE(opener.Diagnostic().empty());

    InstrumentConnection first(clock_, library);
    first.Open();
    EXPECT_EQ(first.FoundCount(), 0u);
    EXPECT_EQ(first.Failure(), c.failure) << first.Diagnostic();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SearchFailure,
    ::testing::Values(FailureCase{"LibraryMissing", "missing", "", OpenFailure::LibraryMissing},
                      FailureCase{"FunctionMissing", "viFindNext", "", OpenFailure::FunctionMissing},
                      FailureCase{"NoResourceManager", "", "no_rm=1\n", OpenFailure::ResourceManager},
                      FailureCase{"NoInstrument", "", "serials=\n", OpenFailure::NotFound}),
    [](const auto& param) { return std::string(param.param.name); });

struct SerialCase {
    const char* name;
    const char* config;
    const char* serial;
};

class OpenSerialCase : public InstrumentSearchTest, public ::testing::WithParamInterface<SerialCase> {};

TEST_P(OpenSerialCase, OpensExactlyTheNamedInstrument)
{
    const SerialCase& c = GetParam();
    Configure(c.config);
    InstrumentConnection connection(clock_, sim_.LibraryPath());
    connection.OpenSerial(c.serial);
    ASSERT_EQ(connection.FoundCount(), 1u) << connection.Diagnostic();
    EXPECT_EQ(connection.SerialNumber(), c.serial);

    // It is that instrument that answers.
    ASSERT_EQ(connection.Write("*idn?\n", 6), 6u);
    char reply[64] = {};
    const std::uint32_t n = connection.Read(reply, sizeof reply);
    EXPECT_NE(std::string(reply, n).find(std::string(",") + c.serial + ","), std::string::npos) << reply;
    const auto opens = sim_.Events("viOpen");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_NE(opens.front().Field("name").find(c.serial), std::string::npos);
    connection.Close();
    EXPECT_FALSE(connection.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Serials, OpenSerialCase,
    ::testing::Values(SerialCase{"FirstOfTwo", "serials=ABC123,DEF456\n", "ABC123"},
                      SerialCase{"SecondOfTwo", "serials=ABC123,DEF456\n", "DEF456"},
                      SerialCase{"DecimalOnly", "serials=ABC123,DEF456\nenumerate=decimal\n", "DEF456"},
                      SerialCase{"BothForms", "serials=ABC123,DEF456\nenumerate=both\n", "DEF456"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(InstrumentSearchTest, ASerialIsMatchedExactly)
{
    Configure("serials=ABC123,ABC1234\n");
    for (const char* other : {"abc123", "ABC12", ""}) {
        InstrumentConnection connection(clock_, sim_.LibraryPath());
        connection.OpenSerial(other);
        EXPECT_EQ(connection.FoundCount(), 0u) << other;
        EXPECT_EQ(connection.Failure(), OpenFailure::NotFound) << other;
    }
    InstrumentConnection connection(clock_, sim_.LibraryPath());
    connection.OpenSerial("ABC1234");
    EXPECT_EQ(connection.SerialNumber(), "ABC1234");
    connection.Close();
}

TEST_F(InstrumentSearchTest, AnEmptySelectionOpensAsTheDialogDoes)
{
    Configure("serials=DEF456,ABC123\n");
    InstrumentConnection connection(clock_, sim_.LibraryPath());
    connection.OpenSelected("");
    EXPECT_EQ(connection.FoundCount(), 2u);
    EXPECT_EQ(connection.SerialNumber(), "DEF456");
    connection.Close();
}

}  // namespace
}  // namespace meterload
