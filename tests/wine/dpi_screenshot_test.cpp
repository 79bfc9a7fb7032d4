// The dialog and the About box at 96, 144 and 192 DPI (the prefix's
// LogPixels): drawn at the screen's DPI, larger and sharp rather than
// stretched. The screenshots are kept among the artefacts for a person to
// look at; the sizes are checked here.
#include "tests/wine/app_fixture.h"

#include <cmath>

namespace meterload::wine {
namespace {

// The setting a program reads when it starts.
void SetLogPixels(DWORD dpi) {
    HKEY desktop = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &desktop, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&dpi), sizeof dpi),
              ERROR_SUCCESS);
    RegCloseKey(desktop);
}

// The height of one line of the log, from where its first two lines begin.
int LogLineHeight(HWND log) {
    const LRESULT second = SendMessageW(log, EM_LINEINDEX, 1, 0);
    const auto first = static_cast<DWORD>(SendMessageW(log, EM_POSFROMCHAR, 0, 0));
    const auto next =
        static_cast<DWORD>(SendMessageW(log, EM_POSFROMCHAR, static_cast<WPARAM>(second), 0));
    return static_cast<short>(HIWORD(next)) - static_cast<short>(HIWORD(first));
}

class ScreenDpi : public MeterLoadApp, public ::testing::WithParamInterface<int> {
protected:
    ScreenDpi() { SetLogPixels(static_cast<DWORD>(GetParam())); }
    // The other tests run at 96 DPI.
    ~ScreenDpi() override { SetLogPixels(96); }

    double Scale() const { return GetParam() / 96.0; }
};

TEST_P(ScreenDpi, DialogAndAboutBoxGrowWithTheScreen) {
    StartWithInstrument();
    const std::string dpi = std::to_string(GetParam());
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_FALSE(app_.Screenshot(app_.MainDialog(), "dpi" + dpi + "_dialog").empty());

    // 320 x 116 dialog units of an 8-point font: 480 to 560 x 190 pixels at
    // 96 DPI, depending on the font's metrics, and in proportion above (a
    // little less, as the metrics round). Drawn at 96 and stretched, it would
    // measure half as much at 192.
    RECT client{};
    GetClientRect(app_.MainDialog(), &client);
    EXPECT_NEAR(client.right / Scale(), 520, 520 * 0.16)
        << "client width " << client.right << " at " << dpi;
    EXPECT_NEAR(client.bottom / Scale(), 185, 185 * 0.12)
        << "client height " << client.bottom << " at " << dpi;
    // The log's font: a 16-pixel cell at 96 DPI.
    const int line = LogLineHeight(app_.Control(kLog));
    EXPECT_NEAR(line / Scale(), 17, 3) << "log line height " << line << " at " << dpi;

    PostMessageW(app_.MainDialog(), WM_SYSCOMMAND, kAboutCommand, 0);
    const HWND about = app_.WaitForDialog("About MeterLoad");
    ASSERT_NE(about, nullptr) << "no About box";
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_FALSE(app_.Screenshot(about, "dpi" + dpi + "_about").empty());
    RECT box{};
    GetClientRect(about, &box);
    // 248 dialog units.
    EXPECT_NEAR(box.right / Scale(), 400, 400 * 0.16)
        << "About width " << box.right << " at " << dpi;
    app_.Press(about, IDOK);
    EXPECT_TRUE(app_.WaitForNoDialog("About MeterLoad"));
}

INSTANTIATE_TEST_SUITE_P(LogPixels, ScreenDpi, ::testing::Values(96, 144, 192),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return "Dpi" + std::to_string(param.param);
                         });

}  // namespace
}  // namespace meterload::wine
