// Drives one run of meterload.exe under Wine from the outside, through its
// real windows: starts it beside the simulated instrument, finds its dialogs,
// clicks, reads texts, answers boxes and the open-file dialog, and reads the
// simulator's transcript.
#pragma once

#include "tests/support/transcript.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace meterload::wine {

using std::chrono::milliseconds;

inline constexpr char kMainCaption[] = "ZQ6140 ( USBTMC ) Update Version 2.06 - Korvalen Corp.";
inline constexpr milliseconds kStartTimeout{60000};
inline constexpr milliseconds kWindowTimeout{15000};

// The Windows form of a path of the build tree.
std::string WindowsPath(const std::string& unixPath);

// The program's texts and paths are UTF-8; Windows takes them as UTF-16.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Polls `done` every 20 ms until it holds or `timeout` has passed.
bool WaitUntil(const std::function<bool()>& done, milliseconds timeout);

using testing::WireEvent;

class AppSession {
public:
    // `name` names the run's own folder (config, state, transcript, files).
    explicit AppSession(const std::string& name);
    // Ends the program if it still runs.
    ~AppSession();
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    // Writes a file into the run's folder; returns its full Windows path.
    std::string WriteRunFile(const std::string& name, const std::vector<unsigned char>& bytes);

    // Starts meterload.exe with the simulated instrument configured by
    // `simConfig` (key=value lines; state and transcript are added).
    void Start(const std::string& simConfig);
    // The same with the program in `programFolder` and started from
    // `currentFolder` (Windows paths).
    void StartIn(const std::string& programFolder, const std::string& currentFolder,
                 const std::string& simConfig);

    // The run's own folder (a Windows path).
    const std::string& RunFolder() const { return runDir_; }

    bool Running() const;
    bool WaitForExit(milliseconds timeout) const;
    DWORD ExitCode() const;

    // A visible top-level dialog of the program with this caption, or null.
    HWND FindDialog(const std::string& caption) const;
    HWND WaitForDialog(const std::string& caption, milliseconds timeout = kWindowTimeout) const;
    bool WaitForNoDialog(const std::string& caption, milliseconds timeout = kWindowTimeout) const;
    // A visible pop-up menu of the program (the system menu, once opened).
    HWND WaitForPopupMenu(milliseconds timeout = kWindowTimeout) const;
    HWND MainDialog() const { return FindDialog(kMainCaption); }

    HWND Control(int id) const;
    std::string Caption(int id) const { return Text(Control(id)); }
    std::string LogText() const;
    // The log split at its "\r\n" separators.
    std::vector<std::string> LogLines() const;
    // Clicks a control of the main dialog without waiting for its handler.
    void Click(int id) const;

    // The texts of a message box's static controls, joined by "\n".
    std::string BoxText(HWND box) const;
    // Presses the button `button` of a dialog of the program (a box, About).
    void Press(HWND dialog, int button) const;

    // Answers the open-file dialog with `path`; false when it did not appear.
    bool OpenFile(const std::string& path) const;
    // The descriptions of the open-file dialog's file types.
    std::vector<std::string> OpenDialogFileTypes() const;

    std::vector<WireEvent> Transcript() const;
    // The update history the program was given (METERLOAD_HISTORY), line by line.
    std::string HistoryPath() const;
    std::vector<std::string> HistoryLines() const;
    // Only the events named `event`.
    std::vector<WireEvent> Events(const std::string& event) const;

    // Saves what the display shows of `window` (the X server's picture, not
    // the window's own drawing) as a PNG file among the test artefacts;
    // returns its path, or nothing when it could not.
    std::string Screenshot(HWND window, const std::string& name) const;

    static std::string Text(HWND window);

private:
    std::string runDir_;
    std::string transcriptPath_;
    PROCESS_INFORMATION process_{};
};

}  // namespace meterload::wine
