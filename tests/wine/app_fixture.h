// What the Wine tests of meterload.exe share: the texts the program shows,
// and a fixture that starts it against the simulated instrument and drives
// an update through its dialog.
#pragma once

#include "tests/wine/app_session.h"
#include "tests/wine/firmware_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace meterload::wine {

using Lines = std::vector<std::string>;

inline constexpr int kSelect = 1;
inline constexpr int kLog = 1000;
inline constexpr int kExit = 1005;
inline constexpr UINT kAboutCommand = 0x0010;
inline constexpr milliseconds kUpdateTimeout{90000};
inline constexpr char kEndFrameHex[] = "AB00000000000001FFFF";
// Controls of the open-file dialog.
inline constexpr int kOpenFileTypeCombo = 0x470;  // cmb1
inline constexpr int kOpenReadOnlyBox = 0x410;    // chx1

// Key message parameters: a repeat count of 1, and for a release the
// previous-state and transition bits.
inline constexpr LPARAM kAltHeld = LPARAM{1} << 29;
inline LPARAM KeyUp() {
    return static_cast<LPARAM>(static_cast<LONG>(0xC0000001u));
}

inline const Lines kStartHints = {
    "Click \"Select\" button and find the file you want to update.",
    "",
    "  5407 for DSP firmware.",
    "  1232 for 430 firmware.",
};

inline Lines ClosingLines() {
    return {"After instrument power is recycled, if you want to update another binary",
            "file, please press the \"Continue\" button, otherwise press the \"OK\" button",
            "to exit."};
}

inline Lines SuccessLog(const std::string& fileName) {
    Lines lines = {"\"" + fileName + "\" update completed. Please recycle power on instrument",
                   "now.", ""};
    for (const std::string& line : ClosingLines()) {
        lines.push_back(line);
    }
    return lines;
}

inline Lines FailureLog(const std::string& fileName) {
    Lines lines = {"\"" + fileName + "\" firmware update failure! Please recycle power on",
                   "instrument now and Try again.", ""};
    for (const std::string& line : ClosingLines()) {
        lines.push_back(line);
    }
    return lines;
}

inline std::string Hex(const std::string& text) {
    std::string hex;
    char digits[3];
    for (char c : text) {
        std::snprintf(digits, sizeof digits, "%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        hex += digits;
    }
    return hex;
}

inline std::string Crc32Text(const Bytes& bytes) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X",
                  static_cast<unsigned>(Crc32(bytes.data(), bytes.size())));
    return text;
}

inline std::string TestName() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
    name += ".";
    name += ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return name;
}

class MeterLoadApp : public ::testing::Test {
protected:
    MeterLoadApp() : app_(TestName()) {}

    // Starts the program with the instrument attached and waits for the hints.
    void StartWithInstrument(const std::string& config = "serials=ABC123") {
        app_.Start(config);
        ASSERT_NE(app_.WaitForDialog(kMainCaption, kStartTimeout), nullptr)
            << "the main dialog did not appear";
        ASSERT_TRUE(WaitUntil([&] { return app_.LogLines() == kStartHints; }, kWindowTimeout))
            << "log: " << app_.LogText();
    }

    // Presses Select and answers the file dialog with `path`.
    void SelectFile(const std::string& path) {
        app_.Click(kSelect);
        ASSERT_TRUE(app_.OpenFile(path)) << "the open-file dialog did not take " << path;
    }

    void WaitForContinue() {
        ASSERT_TRUE(WaitUntil([&] { return app_.Caption(kSelect) == "Continue"; }, kUpdateTimeout))
            << "the update did not end; log: " << app_.LogText();
    }

    // The bytes of each viWrite, in hex, in order.
    std::vector<std::string> WrittenData() const {
        std::vector<std::string> data;
        for (const WireEvent& write : app_.Events("viWrite")) {
            data.push_back(write.fields.count("data") ? write.fields.at("data") : "");
        }
        return data;
    }

    // The caret stands at the end of the log and its last line is in view.
    void ExpectLogEndShown() const {
        const HWND log = app_.Control(kLog);
        const auto length = static_cast<DWORD>(app_.LogText().size());
        const auto selection = static_cast<DWORD>(SendMessageA(log, EM_GETSEL, 0, 0));
        EXPECT_EQ(LOWORD(selection), length) << "selection start";
        EXPECT_EQ(HIWORD(selection), length) << "selection end";
        const auto lines = static_cast<WPARAM>(SendMessageA(log, EM_GETLINECOUNT, 0, 0));
        const LRESULT lastLineStart = SendMessageA(log, EM_LINEINDEX, lines - 1, 0);
        const auto position = static_cast<DWORD>(
            SendMessageA(log, EM_POSFROMCHAR, static_cast<WPARAM>(lastLineStart), 0));
        RECT client{};
        GetClientRect(log, &client);
        const int y = static_cast<short>(HIWORD(position));
        EXPECT_GE(y, 0) << "the last line lies above the view";
        EXPECT_LT(y, client.bottom) << "the last line lies below the view";
        EXPECT_GT(SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0), 0)
            << "the log does not scroll; the test needs more lines than it shows";
    }

    // Asks for Exit, answers Cancel, and checks the dialog is still there: a
    // barrier behind messages posted before.
    void ExitThenCancel() {
        app_.Click(kExit);
        const HWND box = app_.WaitForDialog("ZQ6140 firmware update");
        ASSERT_NE(box, nullptr) << "no quit confirmation";
        EXPECT_EQ(app_.BoxText(box), "Are you sure, you want to quit?");
        EXPECT_EQ(GetWindow(box, GW_OWNER), app_.MainDialog());
        app_.Press(box, IDCANCEL);
        ASSERT_TRUE(app_.WaitForNoDialog("ZQ6140 firmware update"));
        std::this_thread::sleep_for(milliseconds(500));
        EXPECT_TRUE(app_.Running());
        EXPECT_NE(app_.MainDialog(), nullptr);
    }

    AppSession app_;
};

}  // namespace meterload::wine
