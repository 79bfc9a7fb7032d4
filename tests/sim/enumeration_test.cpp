// Finding and opening the simulated instruments: search expressions,
// enumeration forms, resource names, sessions and bad arguments.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <ostream>

namespace meterload::testing {
namespace {

constexpr ViStatus kNotFound = visa::VI_ERROR_RSRC_NFOUND;
constexpr ViStatus kInvalidObject = visa::VI_ERROR_INV_OBJECT;
constexpr ViStatus kUserBuffer = static_cast<ViStatus>(0xBFFF0071UL);

const char* const kHexPattern = "USB[0-9]*::0x1D47::0x0B62::?*INSTR";
const char* const kDecimalPattern = "USB[0-9]*::7495::2914::?*INSTR";
const char* const kHexAbc = "USB0::0x1D47::0x0B62::ABC123::INSTR";
const char* const kHexDef = "USB0::0x1D47::0x0B62::DEF456::INSTR";
const char* const kDecimalAbc = "USB0::7495::2914::ABC123::INSTR";

struct SearchCase {
    const char* label;
    const char* config;
    const char* expression;
    ViStatus status;
    std::vector<std::string> found;  // in order: viFindRsrc's, then viFindNext's
};

std::ostream& operator<<(std::ostream& out, const SearchCase& c)
{
    return out << c.label;
}

class SearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTest, ReportsTheMatchingInstrumentsInOrder)
{
    const SearchCase& c = GetParam();
    SimInstrument sim(c.config);
    VisaApi api(sim.LibraryPath());
    ViSession rm = 0;
    ASSERT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
    char name[visa::VI_FIND_BUFLEN] = {};
    ViUInt32 count = 99;
    visa::ViFindList list = 99;
    EXPECT_EQ(api.findRsrc(rm, c.expression, &list, &count, name), c.status);
    EXPECT_EQ(count, c.found.size());
    std::vector<std::string> found;
    if (count > 0) {
        found.push_back(name);
        for (ViUInt32 i = 1; i < count; ++i) {
            EXPECT_EQ(api.findNext(list, name), visa::VI_SUCCESS);
            found.push_back(name);
        }
        EXPECT_EQ(api.findNext(list, name), kNotFound) << "the list goes on after its count";
    }
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(api.close(rm), visa::VI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Enumeration, SearchTest,
    ::testing::Values(
        SearchCase{"HexFoundByHexPattern", "", kHexPattern, visa::VI_SUCCESS, {kHexAbc}},
        SearchCase{"HexNotFoundByDecimalPattern", "", kDecimalPattern, kNotFound, {}},
        SearchCase{"DecimalNotFoundByHexPattern", "enumerate=decimal", kHexPattern, kNotFound, {}},
        SearchCase{
            "DecimalFoundByDecimalPattern", "enumerate=decimal", kDecimalPattern, visa::VI_SUCCESS, {kDecimalAbc}},
        SearchCase{"BothFormsByHexPattern", "enumerate=both", kHexPattern, visa::VI_SUCCESS, {kHexAbc}},
        SearchCase{"BothFormsByAnyInstrument", "enumerate=both", "?*::INSTR", visa::VI_SUCCESS, {kHexAbc, kDecimalAbc}},
        SearchCase{"TwoInstrumentsInConfiguredOrder",
                   "serials=DEF456,ABC123",
                   kHexPattern,
                   visa::VI_SUCCESS,
                   {kHexDef, kHexAbc}},
        SearchCase{"NoInstrument", "serials=", kHexPattern, kNotFound, {}},
        SearchCase{"NoInstrumentAnyPattern", "serials=", "?*::INSTR", kNotFound, {}},
        SearchCase{"CaseIgnored", "", "usb[0-9]*::0x1d47::0x0b62::?*instr", visa::VI_SUCCESS, {kHexAbc}},
        SearchCase{"PlusNeedsOneDigit", "", "USB[0-9]+::?*", visa::VI_SUCCESS, {kHexAbc}},
        SearchCase{"PlusMissingDigit", "", "USB[a-z]+::?*", kNotFound, {}},
        SearchCase{
            "Alternatives", "serials=ABC123,DEF456", "USB0::?*::(DEF|XYZ)456::INSTR", visa::VI_SUCCESS, {kHexDef}},
        SearchCase{"NegatedClass",
                   "serials=ABC123,DEF456",
                   "USB0::0x1D47::0x0B62::[^A]?*::INSTR",
                   visa::VI_SUCCESS,
                   {kHexDef}},
        SearchCase{"WholeNameOnly", "", "USB0::0x1D47", kNotFound, {}},
        SearchCase{"UnclosedClass", "", "USB[0-9::?*", visa::VI_ERROR_INV_EXPR, {}},
        SearchCase{"RepeatWithoutItem", "", "*USB", visa::VI_ERROR_INV_EXPR, {}}),
    [](const ::testing::TestParamInfo<SearchCase>& param) { return std::string(param.param.label); });

TEST(SearchTest, HostileExpressionsAreAnsweredWithoutExhaustingTheLibrary)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    ViSession rm = 0;
    ASSERT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
    std::string stars;
    for (int i = 0; i < 30; ++i) {
        stars += "?*";
    }
    const struct {
        std::string label;
        std::string expression;
        ViStatus status;
    } cases[] = {
        {"groups nested as deep as allowed", std::string(32, '(') + "USB?*" + std::string(32, ')'), visa::VI_SUCCESS},
        {"groups nested far too deep", std::string(100000, '(') + "USB?*" + std::string(100000, ')'),
         visa::VI_ERROR_INV_EXPR},
        {"exponential backtracking", stars + "x", kNotFound},
        {"repetitions that match", stars.substr(0, 20) + "INSTR", visa::VI_SUCCESS},
    };
    for (const auto& c : cases) {
        char name[visa::VI_FIND_BUFLEN] = {};
        ViUInt32 count = 0;
        visa::ViFindList list = 0;
        EXPECT_EQ(api.findRsrc(rm, c.expression.c_str(), &list, &count, name), c.status) << c.label;
    }
}

struct OpenCase {
    const char* name;
    ViStatus status;
};

class OpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenTest, AcceptsEveryFormOfTheInstrumentsName)
{
    SimInstrument sim("serials=ABC123");
    VisaApi api(sim.LibraryPath());
    ViSession rm = 0;
    ASSERT_EQ(api.openDefaultRM(&rm), visa::VI_SUCCESS);
    ViSession vi = 77;
    EXPECT_EQ(api.open(rm, GetParam().name, 0, 0, &vi), GetParam().status);
    EXPECT_EQ(vi == visa::VI_NULL, GetParam().status != visa::VI_SUCCESS) << "handle " << vi;
}

INSTANTIATE_TEST_SUITE_P(ResourceNames, OpenTest,
                         ::testing::Values(OpenCase{kHexAbc, visa::VI_SUCCESS}, OpenCase{kDecimalAbc, visa::VI_SUCCESS},
                                           OpenCase{"USB::0x1D47::0x0B62::ABC123::INSTR", visa::VI_SUCCESS},
                                           OpenCase{"usb0::0x1d47::0x0b62::abc123::instr", visa::VI_SUCCESS},
                                           OpenCase{"USB0::0x1D47::0x0B62::ABC123::0::INSTR", visa::VI_SUCCESS},
                                           OpenCase{"USB1::0x1D47::0x0B62::ABC123::INSTR", kNotFound},
                                           OpenCase{"USB0::0x1D47::0x0B63::ABC123::INSTR", kNotFound},
                                           OpenCase{"USB0::0x1D47::0x0B62::XYZ999::INSTR", kNotFound},
                                           OpenCase{"USB0::0x1D47::0x0B62", visa::VI_ERROR_INV_RSRC_NAME},
                                           OpenCase{"GPIB0::12::INSTR", visa::VI_ERROR_INV_RSRC_NAME},
                                           OpenCase{"", visa::VI_ERROR_INV_RSRC_NAME}));

TEST(ResourceManagerTest, MissingResourceManagerFailsAndLeavesNoHandle)
{
    SimInstrument sim("no_rm=1");
    VisaApi api(sim.LibraryPath());
    ViSession rm = 1234;
    EXPECT_LT(api.openDefaultRM(&rm), 0);
    EXPECT_EQ(rm, visa::VI_NULL);
    // What a client does next: close the handle it got.
    EXPECT_GE(api.close(rm), 0);
}

TEST(SessionTest, ClosingTheResourceManagerClosesItsSessions)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ASSERT_EQ(api.WriteText(vi, "L0\n"), visa::VI_SUCCESS);
    ASSERT_EQ(api.close(api.rm), visa::VI_SUCCESS);
    EXPECT_EQ(api.WriteText(vi, "L0\n"), kInvalidObject);
    EXPECT_EQ(api.close(vi), kInvalidObject);
    EXPECT_EQ(api.close(api.rm), kInvalidObject);
}

TEST(SessionTest, BadHandlesAndNullPointersAreRefused)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    const ViSession bogus = 4242;
    char name[visa::VI_FIND_BUFLEN];
    visa::ViByte byte = 0;
    ViUInt32 count = 0;
    visa::ViFindList list = 0;

    EXPECT_EQ(api.write(bogus, &byte, 1, &count), kInvalidObject);
    EXPECT_EQ(api.read(bogus, &byte, 1, &count), kInvalidObject);
    EXPECT_EQ(api.setAttribute(bogus, visa::VI_ATTR_TMO_VALUE, 10), kInvalidObject);
    EXPECT_EQ(api.findNext(bogus, name), kInvalidObject);
    EXPECT_EQ(api.findRsrc(vi, "?*", &list, &count, name), kInvalidObject) << "an instrument is no resource manager";
    EXPECT_EQ(api.open(vi, kHexAbc, 0, 0, &list), kInvalidObject);

    EXPECT_EQ(api.read(vi, nullptr, 10, &count), kUserBuffer);
    EXPECT_EQ(api.write(vi, nullptr, 10, &count), kUserBuffer);
    EXPECT_EQ(api.openDefaultRM(nullptr), kUserBuffer);
    EXPECT_EQ(api.open(api.rm, kHexAbc, 0, 0, nullptr), kUserBuffer);
    EXPECT_EQ(api.findRsrc(api.rm, nullptr, &list, &count, name), visa::VI_ERROR_INV_EXPR);
    // The optional outputs of a search may be left out.
    EXPECT_EQ(api.findRsrc(api.rm, "?*INSTR", nullptr, nullptr, nullptr), visa::VI_SUCCESS);
    EXPECT_EQ(api.WriteText(vi, "L0\n", nullptr), visa::VI_SUCCESS);
}

TEST(SessionTest, AttributesAnswerForTheOpenInstrument)
{
    SimInstrument sim("serials=ABC123\nenumerate=decimal");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument("USB?*");
    ASSERT_EQ(api.setAttribute(vi, visa::VI_ATTR_TMO_VALUE, 10000), visa::VI_SUCCESS);
    ViUInt32 timeout = 0;
    EXPECT_EQ(api.getAttribute(vi, visa::VI_ATTR_TMO_VALUE, &timeout), visa::VI_SUCCESS);
    EXPECT_EQ(timeout, 10000U);
    char text[visa::VI_FIND_BUFLEN] = {};
    EXPECT_EQ(api.getAttribute(vi, 0xBFFF01A0UL /* USB serial number */, text), visa::VI_SUCCESS);
    EXPECT_STREQ(text, "ABC123");
    EXPECT_EQ(api.getAttribute(vi, 0xBFFF0001UL /* resource class */, text), visa::VI_SUCCESS);
    EXPECT_STREQ(text, "INSTR");
    visa::ViUInt16 type = 0;
    visa::ViUInt16 board = 99;
    EXPECT_EQ(api.parseRsrc(api.rm, "USB::7495::2914::ABC123::INSTR", &type, &board), visa::VI_SUCCESS);
    EXPECT_EQ(type, 7);
    EXPECT_EQ(board, 0);
    EXPECT_EQ(api.getAttribute(vi, 0x3FFF0FFFUL, text), visa::VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(api.statusDesc(vi, visa::VI_ERROR_TMO, text), visa::VI_SUCCESS);
    EXPECT_EQ(std::string(text).rfind("VI_ERROR_TMO", 0), 0U) << text;
}

TEST(SessionTest, UnsupportedOperationsSayNotSupported)
{
    SimInstrument sim;
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    using Unlock = ViStatus(METERLOAD_VI_FUNC*)(ViSession);
    const auto unlock = api.Get<Unlock>("viUnlock");
    EXPECT_EQ(unlock(vi), static_cast<ViStatus>(0xBFFF0067UL));
    EXPECT_EQ(unlock(9999), kInvalidObject);
}

}  // namespace
}  // namespace meterload::testing
