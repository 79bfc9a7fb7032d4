// viQueryf's reading of numbers: a reply that holds no number where one is
// asked for fails the call and leaves the caller's variable as it was.
#include "tests/sim/visa_api.h"
#include "tests/support/sim_instrument.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>

namespace meterload::testing {
namespace {

struct ScanCase {
    const char* name;
    const char* reply;   // the identification reply, as the configuration writes it
    const char* format;  // one of %d %x %ld %f %lf, or "%d,%d"
    ViStatus status;
    std::string after;  // the variables afterwards, printed; each starts at 1234 (12.5 for %f)
};

void PrintTo(const ScanCase& c, std::ostream* os)
{
    *os << c.name;
}

// Asks for the identification with `format` as the read format.
std::string Scan(VisaApi& api, ViSession vi, const std::string& format, ViStatus& status)
{
    std::ostringstream text;
    if (format == "%ld") {
        long value = 1234;
        status = api.queryf(vi, "*idn?\n", format.c_str(), &value);
        text << value;
    } else if (format == "%f") {
        float value = 12.5F;
        status = api.queryf(vi, "*idn?\n", format.c_str(), &value);
        text << value;
    } else if (format == "%lf") {
        double value = 12.5;
        status = api.queryf(vi, "*idn?\n", format.c_str(), &value);
        text << value;
    } else if (format == "%d,%d") {
        int first = 1234;
        int second = 1234;
        status = api.queryf(vi, "*idn?\n", format.c_str(), &first, &second);
        text << first << ',' << second;
    } else {
        int value = 1234;
        status = api.queryf(vi, "*idn?\n", format.c_str(), &value);
        text << value;
    }
    return text.str();
}

class FormattedNumberRead : public ::testing::TestWithParam<ScanCase> {};

TEST_P(FormattedNumberRead, WritesTheVariableOnlyWhenANumberWasRead)
{
    const ScanCase& c = GetParam();
    SimInstrument sim(std::string("idn=") + c.reply + "\n");
    VisaApi api(sim.LibraryPath());
    const ViSession vi = api.OpenInstrument();
    ViStatus status = visa::VI_SUCCESS;
    EXPECT_EQ(Scan(api, vi, c.format, status), c.after);
    EXPECT_EQ(status, c.status);
}

constexpr ViStatus kMismatch = static_cast<ViStatus>(0xBFFF003FUL);  // VI_ERROR_INV_FMT

INSTANTIATE_TEST_SUITE_P(Replies, FormattedNumberRead,
                         ::testing::Values(ScanCase{"Int", " 42\\n", "%d", visa::VI_SUCCESS, "42"},
                                           ScanCase{"Hex", "ff\\n", "%x", visa::VI_SUCCESS, "255"},
                                           ScanCase{"Double", "0.25\\n", "%lf", visa::VI_SUCCESS, "0.25"},
                                           ScanCase{"IntFromText", "KORVALEN\\n", "%d", kMismatch, "1234"},
                                           ScanCase{"HexFromText", "zz\\n", "%x", kMismatch, "1234"},
                                           ScanCase{"LongFromEmptyLine", "\\n", "%ld", kMismatch, "1234"},
                                           ScanCase{"FloatFromSign", "-\\n", "%f", kMismatch, "12.5"},
                                           ScanCase{"DoubleFromText", "x1\\n", "%lf", kMismatch, "12.5"},
                                           ScanCase{"SecondNumberMissing", "7,x\\n", "%d,%d", kMismatch, "7,1234"}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace meterload::testing
