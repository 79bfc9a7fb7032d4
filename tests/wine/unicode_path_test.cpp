// File names beyond the user's code page: a firmware folder named in
// Cyrillic and Chinese goes through the open-file dialog, the update and the
// history unchanged.
#include "tests/wine/app_fixture.h"

namespace meterload::wine {
namespace {

TEST_F(MeterLoadApp, ImageInAFolderNamedInCyrillicAndChineseInstalls) {
    StartWithInstrument();
    const std::string folder = app_.RunFolder() + "\\Папка 测试";
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS)
        << folder;
    const Bytes body = ImageBody(600, 4);
    const std::string path = folder + "\\прошивка.bin";
    WriteFile(path, SingleImage("02.06", 0, body));
    SelectFile(path);
    WaitForContinue();

    EXPECT_EQ(app_.LogLines(), SuccessLog("прошивка.bin"));
    const std::vector<WireEvent> images = app_.Events("image");
    ASSERT_EQ(images.size(), 1u) << "image events in the transcript";
    EXPECT_EQ(images[0].fields.at("crc32"), Crc32Text(body));

    // The record keeps the name in UTF-8; JSON doubles the backslashes.
    const std::vector<std::string> lines = app_.HistoryLines();
    ASSERT_EQ(lines.size(), 1u) << app_.HistoryPath();
    EXPECT_NE(lines[0].find("\"file\":\"прошивка.bin\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\\\\Папка 测试\\\\прошивка.bin\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"result\":\"done\""), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace meterload::wine
