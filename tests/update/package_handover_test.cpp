// OnOK's side of a package update: the hand-over to InstallPackage and the
// final texts chosen by its result.
#include "tests/update/update_flow_fixture.h"

#include <filesystem>

namespace meterload::testing {
namespace {

using ::testing::ElementsAreArray;

std::vector<std::string> AfterIdentification(std::vector<std::string> ending)
{
    std::vector<std::string> lines = {"Serial No: ABC123", "Please wait ..."};
    lines.insert(lines.end(), ending.begin(), ending.end());
    return lines;
}

class PackageHandOverTest : public UpdateFlowTest {
protected:
    std::string WritePackage(const std::string& name, const ImageSpec& first)
    {
        PackageBuilder builder;
        builder.Image(ImageBytes(first), "main.bin");
        return WriteFile(name, builder.Build());
    }
};

TEST_F(PackageHandOverTest, AnInstalledPackageKeepsTheSerialLineAndReportsSuccess)
{
    Configure();
    StartReady();
    ImageSpec first;
    first.bodySize = 292;
    Press(WritePackage("fw.pak", first));

    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(AfterIdentification(SuccessLines("fw.pak"))));
    EXPECT_EQ(ImageEvents(), std::vector<std::string>{"size=292"});
    EXPECT_EQ(dialog.Caption(kSelectButton), "Continue");
    EXPECT_EQ(dialog.Caption(kExitButton), "OK");
    EXPECT_TRUE(dialog.Enabled(kSelectButton));
    EXPECT_TRUE(dialog.Enabled(kExitButton));
    EXPECT_FALSE(driver.Ready());

    // Our identification, then the package procedure's own exchange.
    const auto writes = Writes();
    ASSERT_GE(writes.size(), 5u) << HexList(writes);
    EXPECT_EQ(writes[0], kLocal);
    EXPECT_EQ(writes[1], kIdentify);
    EXPECT_EQ(writes[2], kLocal);
    EXPECT_EQ(writes[3], kIdentify);
    EXPECT_EQ(writes[4], kSystemUpdate);
}

TEST_F(PackageHandOverTest, BothButtonsAreDisabledWhileThePackageIsInstalled)
{
    Configure();
    StartReady();
    ImageSpec first;
    first.bodySize = 10;
    bool anyEnabled = false;
    bool handedOver = false;
    dialog.SetPumpHook([&] {
        handedOver |= !dialog.Enabled(kExitButton);
        if (handedOver && dialog.Caption(kExitButton) == "Exit") {
            anyEnabled |= dialog.Enabled(kSelectButton) || dialog.Enabled(kExitButton);
        }
    });
    Press(WritePackage("fw.pak", first));
    EXPECT_TRUE(handedOver);
    EXPECT_FALSE(anyEnabled);
}

TEST_F(PackageHandOverTest, ARefusedReplyReportsFailure)
{
    Configure("replies=2");
    StartReady();
    ImageSpec first;
    first.bodySize = 100;
    Press(WritePackage("fw.pak", first));
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(AfterIdentification(FailureLines("fw.pak"))));
    EXPECT_TRUE(dialog.MessageBoxes().empty());
    EXPECT_FALSE(driver.Ready());
}

TEST_F(PackageHandOverTest, APackageInAFolderNamedWithAnAtSignIsInstalled)
{
    Configure();
    StartReady();
    std::filesystem::create_directories(PathOf("fw@lab"));
    ImageSpec first;
    first.bodySize = 120;
    Press(WritePackage("fw@lab/fw.pak", first));

    EXPECT_TRUE(dialog.MessageBoxes().empty()) << dialog.EventLog();
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(AfterIdentification(SuccessLines("fw.pak"))));
    EXPECT_EQ(ImageEvents(), std::vector<std::string>{"size=120"});
}

TEST_F(PackageHandOverTest, AFailedEndFrameReportsFailureWithoutABox)
{
    Configure("fail_endframe=1");
    StartReady();
    ImageSpec first;
    first.bodySize = 100;
    Press(WritePackage("fw.pak", first));

    EXPECT_TRUE(dialog.MessageBoxes().empty()) << dialog.EventLog();
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(AfterIdentification(FailureLines("fw.pak"))));
    EXPECT_TRUE(ImageEvents().empty());
    EXPECT_FALSE(driver.Ready());
}

TEST_F(PackageHandOverTest, ARefusalBoxOfThePackageIsFollowedByTheFailureTexts)
{
    Configure();
    StartReady();
    ImageSpec first;
    first.identity = "KORVALEN ZQ6141";
    first.bodySize = 100;
    Press(WritePackage("fw.pak", first));

    const auto boxes = dialog.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << dialog.EventLog();
    EXPECT_EQ(boxes[0].owner, BoxOwner::None);
    EXPECT_EQ(boxes[0].caption, "MeterLoad");
    EXPECT_THAT(dialog.LogLines(), ElementsAreArray(AfterIdentification(FailureLines("fw.pak"))));
    // Refused before update mode.
    for (const Bytes& w : Writes()) {
        EXPECT_NE(w, kSystemUpdate);
    }
}

}  // namespace
}  // namespace meterload::testing
