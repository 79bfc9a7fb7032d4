// meterload.exe end to end under Wine: its real dialog, driven through its
// windows, against the simulated ZQ6140, checking what the user sees and what
// crossed the wire in the same run.
#include "tests/wine/app_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace meterload::wine {
namespace {

TEST_F(MeterLoadApp, StartsWithTheInstrumentReadyToSelect) {
    StartWithInstrument();
    EXPECT_EQ(app_.Caption(kSelect), "Select");
    EXPECT_EQ(app_.Caption(kExit), "Exit");
    EXPECT_TRUE(IsWindowEnabled(app_.Control(kSelect)));
    EXPECT_TRUE(IsWindowEnabled(app_.Control(kExit)));
    // The check only looks for the instrument.
    EXPECT_TRUE(WrittenData().empty());
}

TEST_F(MeterLoadApp, StartsWithoutInstrumentWithABoxAndSelectDisabled) {
    app_.Start("serials=");
    const HWND box = app_.WaitForDialog("MeterLoad firmware", kStartTimeout);
    ASSERT_NE(box, nullptr) << "no \"not found\" box";
    EXPECT_EQ(app_.BoxText(box), "ZQ6140 USBTMC device not found.");
    // Owned by the dialog, which is not on screen yet.
    EXPECT_EQ(AppSession::Text(GetWindow(box, GW_OWNER)), kMainCaption);
    app_.Press(box, IDOK);
    ASSERT_NE(app_.WaitForDialog(kMainCaption), nullptr);
    EXPECT_EQ(app_.LogText(), "");
    EXPECT_FALSE(IsWindowEnabled(app_.Control(kSelect)));
    EXPECT_EQ(app_.Caption(kExit), "Exit");
    EXPECT_TRUE(IsWindowEnabled(app_.Control(kExit)));
}

struct CloseRequest {
    const char* name;
    std::function<void(HWND dialog, HWND log)> send;
};

class CloseRequestIgnored : public MeterLoadApp,
                            public ::testing::WithParamInterface<CloseRequest> {};

TEST_P(CloseRequestIgnored, LeavesTheDialogOpen) {
    StartWithInstrument();
    GetParam().send(app_.MainDialog(), app_.Control(kLog));
    ExitThenCancel();
    EXPECT_EQ(app_.LogLines(), kStartHints);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CloseRequestIgnored,
    ::testing::Values(
        CloseRequest{"Escape",
                     [](HWND, HWND log) {
                         PostMessageA(log, WM_KEYDOWN, VK_ESCAPE, 1);
                         PostMessageA(log, WM_KEYUP, VK_ESCAPE, KeyUp());
                     }},
        CloseRequest{"CloseBox",
                     [](HWND dialog, HWND) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        CloseRequest{"WmClose", [](HWND dialog, HWND) { PostMessageA(dialog, WM_CLOSE, 0, 0); }},
        CloseRequest{"AltF4",
                     [](HWND, HWND log) {
                         // Alt held: the context bit of the key message.
                         PostMessageA(log, WM_SYSKEYDOWN, VK_F4, kAltHeld | 1);
                         PostMessageA(log, WM_SYSKEYUP, VK_F4, KeyUp() | kAltHeld);
                     }}),
    [](const ::testing::TestParamInfo<CloseRequest>& param) { return param.param.name; });

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) {
        return "<clipboard busy>";
    }
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const auto* chars = static_cast<const char*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST_F(MeterLoadApp, LogDiscardsTypingButCopies) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    StartWithInstrument();
    const HWND log = app_.Control(kLog);
    for (WPARAM typed : {WPARAM{'x'}, WPARAM{'\b'}, WPARAM{'\r'}, WPARAM{0x16} /* Ctrl+V */}) {
        PostMessageA(log, WM_CHAR, typed, 1);
    }
    // Ctrl+A, then Ctrl+C.
    PostMessageA(log, WM_CHAR, 0x01, 1);
    PostMessageA(log, WM_CHAR, 0x03, 1);
    ExitThenCancel();
    EXPECT_EQ(app_.LogLines(), kStartHints);
    EXPECT_EQ(ClipboardText(), app_.LogText());
}

TEST_F(MeterLoadApp, ExitAsksFirstAndOkEndsTheProgram) {
    StartWithInstrument();
    ExitThenCancel();
    EXPECT_EQ(app_.LogLines(), kStartHints);

    app_.Click(kExit);
    const HWND box = app_.WaitForDialog("ZQ6140 firmware update");
    ASSERT_NE(box, nullptr);
    app_.Press(box, IDOK);
    ASSERT_TRUE(app_.WaitForExit(kWindowTimeout)) << "the program did not end";
    EXPECT_EQ(app_.ExitCode(), 0u);
    EXPECT_TRUE(WrittenData().empty()) << "the instrument was touched";
}

struct AboutWay {
    const char* name;
    std::function<void(AppSession&)> open;
};

class AboutBox : public MeterLoadApp, public ::testing::WithParamInterface<AboutWay> {};

TEST_P(AboutBox, OpensFromTheSystemMenuAndCloses) {
    StartWithInstrument();
    GetParam().open(app_);
    const HWND about = app_.WaitForDialog("About MeterLoad");
    ASSERT_NE(about, nullptr) << "no About box";
    EXPECT_EQ(app_.BoxText(about),
              "ZQ6140 Update Version 2.06 - Korvalen Corp.\nCopyright (C) Korvalen Corp.");
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(app_.Screenshot(about, std::string("about_") + GetParam().name).empty())
        << "no good picture of the About box";
    app_.Press(about, IDOK);
    EXPECT_TRUE(app_.WaitForNoDialog("About MeterLoad"));
    EXPECT_TRUE(app_.Running());
    EXPECT_NE(app_.MainDialog(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, AboutBox,
    ::testing::Values(
        AboutWay{"Command",
                 [](AppSession& app) {
                     PostMessageA(app.MainDialog(), WM_SYSCOMMAND, kAboutCommand, 0);
                 }},
        // Alt+Space opens the system menu; End picks its last item, which
        // must be the About item.
        AboutWay{"MenuLastItem",
                 [](AppSession& app) {
                     const HWND dialog = app.MainDialog();
                     PostMessageA(dialog, WM_SYSCOMMAND, SC_KEYMENU, ' ');
                     const HWND menu = app.WaitForPopupMenu();
                     ASSERT_NE(menu, nullptr) << "the system menu did not open";
                     std::this_thread::sleep_for(milliseconds(300));
                     EXPECT_FALSE(app.Screenshot(dialog, "system_menu_dialog").empty())
                         << "no good picture of the dialog";
                     app.Screenshot(menu, "system_menu");
                     PostMessageA(dialog, WM_KEYDOWN, VK_END, 1);
                     PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 1);
                 }}),
    [](const ::testing::TestParamInfo<AboutWay>& param) { return param.param.name; });

struct SelectWay {
    const char* name;
    std::function<void(AppSession&)> press;
};

class SelectThenCancel : public MeterLoadApp, public ::testing::WithParamInterface<SelectWay> {};

TEST_P(SelectThenCancel, AbortsAfterIdentifying) {
    StartWithInstrument();
    GetParam().press(app_);
    const HWND open = app_.WaitForDialog("Open");
    ASSERT_NE(open, nullptr) << "no open-file dialog; log: " << app_.LogText();
    EXPECT_EQ(app_.LogLines(), (Lines{"Serial No: ABC123", "Please wait ..."}));
    EXPECT_FALSE(IsWindowEnabled(app_.Control(kSelect)));
    EXPECT_EQ(app_.OpenDialogFileTypes(),
              (Lines{"ZQ6140 Update Files (*.pak;*.bin)", "ZQ6140 Binary Files(*.bin)"}));
    EXPECT_EQ(SendMessageA(GetDlgItem(open, kOpenFileTypeCombo), CB_GETCURSEL, 0, 0), 0)
        << "the first file type is not the one selected";
    const HWND readOnly = GetDlgItem(open, kOpenReadOnlyBox);
    EXPECT_TRUE(readOnly == nullptr || !IsWindowVisible(readOnly)) << "the read-only box shows";
    EXPECT_EQ(GetWindow(open, GW_OWNER), app_.MainDialog());

    app_.Press(open, IDCANCEL);
    ASSERT_TRUE(
        WaitUntil([&] { return app_.LogLines() == Lines{"User Abort..."}; }, kWindowTimeout))
        << "log: " << app_.LogText();
    EXPECT_TRUE(
        WaitUntil([&] { return IsWindowEnabled(app_.Control(kSelect)) != FALSE; }, kWindowTimeout));
    EXPECT_EQ(app_.Caption(kSelect), "Select");
    EXPECT_EQ(WrittenData(), (std::vector<std::string>{Hex("L0\n"), Hex("*idn?\n")}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SelectThenCancel,
    ::testing::Values(SelectWay{"Click", [](AppSession& app) { app.Click(kSelect); }},
                      SelectWay{"EnterInTheLog",
                                [](AppSession& app) {
                                    PostMessageA(app.Control(kLog), WM_KEYDOWN, VK_RETURN, 1);
                                    PostMessageA(app.Control(kLog), WM_KEYUP, VK_RETURN, KeyUp());
                                }}),
    [](const ::testing::TestParamInfo<SelectWay>& param) { return param.param.name; });

TEST_F(MeterLoadApp, SingleImageUpdateSucceedsAndOffersContinue) {
    StartWithInstrument();
    const Bytes body = ImageBody(1000, 3);
    SelectFile(app_.WriteRunFile("main.bin", SingleImage("02.06", 0, body)));
    WaitForContinue();

    EXPECT_EQ(app_.LogLines(), SuccessLog("main.bin"));
    EXPECT_EQ(app_.Caption(kExit), "OK");
    EXPECT_TRUE(IsWindowEnabled(app_.Control(kSelect)));
    EXPECT_TRUE(IsWindowEnabled(app_.Control(kExit)));

    const std::vector<WireEvent> images = app_.Events("image");
    ASSERT_EQ(images.size(), 1u) << "image events in the transcript";
    EXPECT_EQ(images[0].fields.at("size"), "1000");
    EXPECT_EQ(images[0].fields.at("crc32"), Crc32Text(body));
    const std::vector<std::string> writes = WrittenData();
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes[2], Hex("system:update\n"));
    EXPECT_EQ(writes.back(), kEndFrameHex);

    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_FALSE(app_.Screenshot(app_.MainDialog(), "after_update").empty())
        << "no good picture of the dialog";

    // Continue checks the instrument again instead of updating.
    app_.Click(kSelect);
    EXPECT_TRUE(WaitUntil([&] { return app_.LogLines() == kStartHints; }, kWindowTimeout))
        << "log: " << app_.LogText();
    EXPECT_EQ(app_.Caption(kSelect), "Select");
    EXPECT_EQ(app_.Caption(kExit), "Exit");
}

TEST_F(MeterLoadApp, EachUpdateLeavesOneRecordInTheHistory) {
    StartWithInstrument();
    const Bytes body = ImageBody(700, 5);
    SelectFile(app_.WriteRunFile("main.bin", SingleImage("02.06", 0, body)));
    WaitForContinue();
    const std::vector<std::string> lines = app_.HistoryLines();
    ASSERT_EQ(lines.size(), 1u) << app_.HistoryPath();
    for (const char* part :
         {"\"serial\":\"ABC123\"", "\"firmware_version_field\":\"02.05-11-07",
          "\"file\":\"main.bin\"", "\"size\":750", "\"kind\":\"image\"", "\"result\":\"done\""}) {
        EXPECT_NE(lines[0].find(part), std::string::npos) << part << " in " << lines[0];
    }
    // The digest from the system's cryptography API, as 64 hex digits.
    const std::size_t digest = lines[0].find("\"sha256\":\"");
    ASSERT_NE(digest, std::string::npos);
    EXPECT_EQ(lines[0].find('"', digest + 10) - (digest + 10), 64u) << lines[0];
}

TEST_F(MeterLoadApp, VersionGateRefusesAnImageOfTheInstalledVersion) {
    StartWithInstrument("serials=ABC123\nversions=02.05-11-07");
    SelectFile(app_.WriteRunFile("same.bin", SingleImage("02.05", 0, ImageBody(300, 1))));
    const Lines expected = {
        "Serial No: ABC123",
        "Please wait ...",
        "Firmware Update Not Possible (DSP). Binary file version is older than ",
        "instrument version.",
        "Please press the \"Exit\" button to exit and recycle power on instrument.",
    };
    ASSERT_TRUE(WaitUntil([&] { return app_.LogLines() == expected; }, kUpdateTimeout))
        << "log: " << app_.LogText();
    EXPECT_TRUE(
        WaitUntil([&] { return IsWindowVisible(app_.Control(kSelect)) == FALSE; }, kWindowTimeout));
    EXPECT_FALSE(IsWindowEnabled(app_.Control(kSelect)));
    EXPECT_TRUE(IsWindowEnabled(app_.Control(kExit)));
    EXPECT_EQ(app_.Caption(kExit), "Exit");
    EXPECT_EQ(WrittenData(),
              (std::vector<std::string>{Hex("L0\n"), Hex("*idn?\n"), Hex("system:update\n")}));
    EXPECT_TRUE(app_.Events("image").empty());
}

TEST_F(MeterLoadApp, PackageInstallsEveryImageLeadLast) {
    StartWithInstrument();
    const Bytes leadBody = ImageBody(700, 5);
    const Bytes second = ImageBody(500, 9);
    const std::string path =
        app_.WriteRunFile("fw.pak", Package(SingleImage("02.06", 0, leadBody), {second}));
    // Typed without its extension: the dialog adds the first file type's.
    SelectFile(path.substr(0, path.size() - std::string(".pak").size()));
    WaitForContinue();

    Lines expected = {"Serial No: ABC123", "Please wait ..."};
    for (const std::string& line : SuccessLog("fw.pak")) {
        expected.push_back(line);
    }
    EXPECT_EQ(app_.LogLines(), expected);
    ExpectLogEndShown();
    EXPECT_EQ(app_.Caption(kExit), "OK");

    const std::vector<WireEvent> images = app_.Events("image");
    ASSERT_EQ(images.size(), 2u) << "image events in the transcript";
    EXPECT_EQ(images[0].fields.at("size"), "500");
    EXPECT_EQ(images[0].fields.at("crc32"), Crc32Text(second));
    EXPECT_EQ(images[1].fields.at("size"), "700");
    EXPECT_EQ(images[1].fields.at("crc32"), Crc32Text(leadBody));
}

// An "@" in the package's folder belongs to the folder, not to the serial
// number that the program hands over with it.
TEST_F(MeterLoadApp, PackageInAFolderNamedWithAnAtSignInstalls) {
    StartWithInstrument();
    const std::string marker = app_.WriteRunFile("fw@lab.folder", {});
    const std::string folder = marker.substr(0, marker.rfind('\\') + 1) + "fw@lab";
    // Left from an earlier run of the test, it is used again.
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        << folder;
    const Bytes leadBody = ImageBody(400, 6);
    const Bytes second = ImageBody(300, 7);
    WriteFile(folder + "\\fw.pak", Package(SingleImage("02.06", 0, leadBody), {second}));
    SelectFile(folder + "\\fw.pak");
    WaitForContinue();

    EXPECT_EQ(app_.FindDialog("MeterLoad"), nullptr) << "a refusal box is showing";
    Lines expected = {"Serial No: ABC123", "Please wait ..."};
    for (const std::string& line : SuccessLog("fw.pak")) {
        expected.push_back(line);
    }
    EXPECT_EQ(app_.LogLines(), expected);
    const std::vector<WireEvent> images = app_.Events("image");
    ASSERT_EQ(images.size(), 2u) << "image events in the transcript";
    EXPECT_EQ(images[0].fields.at("crc32"), Crc32Text(second));
    EXPECT_EQ(images[1].fields.at("crc32"), Crc32Text(leadBody));
}

TEST_F(MeterLoadApp, ChecksumRefusalAfterUpdateModeReportsFailure) {
    StartWithInstrument("serials=ABC123\nreplies=2");
    SelectFile(app_.WriteRunFile("main.bin", SingleImage("02.06", 0, ImageBody(500, 2))));
    WaitForContinue();

    EXPECT_EQ(app_.LogLines(), FailureLog("main.bin"));
    EXPECT_EQ(app_.Caption(kExit), "OK");
    for (const std::string& data : WrittenData()) {
        EXPECT_NE(data, kEndFrameHex) << "an EndFrame followed a refused image";
    }
    EXPECT_TRUE(app_.Events("image").empty());
}

}  // namespace
}  // namespace meterload::wine
