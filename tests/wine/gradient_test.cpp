// The background bands of the main dialog: grey levels and where painting stops.
#include "app/gradient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace meterload {
namespace {

using Bands = std::vector<std::pair<int, int>>;  // (top, grey)

// Paints with the client height taken, band by band, from `heights`; the
// last height holds once the list is used up.
Bands Paint(const std::vector<int>& heights) {
    std::size_t asked = 0;
    Bands bands;
    PaintGradientBands([&] { return heights[std::min(asked++, heights.size() - 1)]; },
                       [&](int top, int grey) { bands.emplace_back(top, grey); });
    return bands;
}

struct GradientCase {
    const char* name;
    std::vector<int> heights;
    Bands expected;
};

class GradientTest : public ::testing::TestWithParam<GradientCase> {};

TEST_P(GradientTest, PaintsTheseBands) {
    EXPECT_EQ(Paint(GetParam().heights), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Heights, GradientTest,
    ::testing::Values(GradientCase{"ZeroHeightPaintsNothing", {0}, {}},
                      GradientCase{"OnePixelIsOneWhiteBand", {1}, {{0, 255}}},
                      GradientCase{"TenPixelsIsOneWhiteBand", {10}, {{0, 255}}},
                      // -1270 / 11 truncates to -115.
                      GradientCase{"ElevenPixelsAddAGreyBand", {11}, {{0, 255}, {10, 140}}},
                      GradientCase{"HundredPixels",
                                   {100},
                                   {{0, 255},
                                    {10, 243},
                                    {20, 230},
                                    {30, 217},
                                    {40, 205},
                                    {50, 192},
                                    {60, 179},
                                    {70, 167},
                                    {80, 154},
                                    {90, 141}}},
                      // Band 1 is computed with the height read for it, not the first one.
                      GradientCase{"HeightReReadForEachBand", {100, 20}, {{0, 255}, {10, 192}}},
                      GradientCase{"ShrinkingAreaStopsEarly", {30, 30, 15}, {{0, 255}, {10, 213}}}),
    [](const ::testing::TestParamInfo<GradientCase>& param) { return param.param.name; });

TEST(GradientGrey, DarkestBandOfATallDialogStaysAbove128) {
    // 600 pixels: band 59 gives -1270 * 59 / 600 = -124.88, truncated to -124.
    EXPECT_EQ(GradientGrey(59, 600), 131);
    EXPECT_EQ(GradientGrey(0, 600), 255);
}

}  // namespace
}  // namespace meterload
