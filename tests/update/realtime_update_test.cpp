// One whole single-image update on the real clock, against the simulated
// instrument on its own clock too: the waits really happen (about 6 s).
#include "platform/clock.h"
#include "tests/support/package_builder.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sim_instrument.h"
#include "update/update_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace meterload::testing {
namespace {

TEST(RealTimeUpdateTest, InstallsASmallImage)
{
    SimInstrument sim;
    ASSERT_TRUE(sim.Configure("serials=ABC123\n"));
    RecordingDialog dialog;
    UpdateDriver driver(UpdateContext{dialog, SystemClock(), sim.LibraryPath()});

    const auto path = (std::filesystem::path(sim.Directory()) / "small.bin").string();
    ImageSpec spec;
    spec.bodySize = 500;
    WriteFileBytes(path, ImageBytes(spec));

    driver.CheckInstrument();
    ASSERT_TRUE(driver.Ready());
    dialog.QueueFileChoice(path);
    driver.OnOK();

    EXPECT_EQ(dialog.LogLines().front(), "\"small.bin\" update completed. Please recycle power on instrument");
    const auto images = sim.Events("image");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Field("size"), "500");
    EXPECT_FALSE(driver.Ready());
}

}  // namespace
}  // namespace meterload::testing
