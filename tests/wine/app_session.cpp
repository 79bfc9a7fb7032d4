#include "tests/wine/app_session.h"

#include "tests/support/log_lines.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace meterload::wine {

namespace {

constexpr int kOpenFileNameCombo = 0x47C;  // cmb13
constexpr int kOpenFileNameEdit = 0x480;   // edt1
constexpr int kOpenFileTypeCombo = 0x470;  // cmb1
constexpr UINT kSendTimeoutMs = 10000;

std::string WindowClass(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

struct DialogSearch {
    DWORD process;
    std::string windowClass;
    const std::string* caption;  // any caption when null
    HWND found;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    if (ProcessOf(window) == search->process && IsWindowVisible(window) &&
        WindowClass(window) == search->windowClass &&
        (search->caption == nullptr || AppSession::Text(window) == *search->caption)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, &CollectChildren, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string WindowsPath(const std::string& unixPath) {
    using ToDos = WCHAR* (*)(const char*);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
    if (toDos != nullptr) {
        if (WCHAR* wide = toDos(unixPath.c_str())) {
            const std::string path = Utf8(wide);
            HeapFree(GetProcessHeap(), 0, wide);
            return path;
        }
    }
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::wstring Wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length,
                        nullptr, nullptr);
    return utf8;
}

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

AppSession::AppSession(const std::string& name) {
    // Window positions as the display has them, also for a program that
    // draws at a higher DPI than 96.
    SetProcessDPIAware();
    // The program's boxes come to the front as they would for a user, who
    // started it: the tests that start it must not keep the foreground.
    AllowSetForegroundWindow(ASFW_ANY);
    const std::string runs = WindowsPath(METERLOAD_WINE_RUNS);
    CreateDirectoryA(runs.c_str(), nullptr);
    runDir_ = runs + "\\" + name;
    CreateDirectoryA(runDir_.c_str(), nullptr);
    for (const char* old : {"zqsim.conf", "zqsim.state", "transcript.txt"}) {
        DeleteFileA((runDir_ + "\\" + old).c_str());
    }
    transcriptPath_ = runDir_ + "\\transcript.txt";
}

AppSession::~AppSession() {
    if (process_.hProcess != nullptr) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 10000);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
}

std::string AppSession::WriteRunFile(const std::string& name,
                                     const std::vector<unsigned char>& bytes) {
    const std::string path = runDir_ + "\\" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

std::string AppSession::HistoryPath() const {
    return runDir_ + "\\history.jsonl";
}

std::vector<std::string> AppSession::HistoryLines() const {
    std::ifstream in(HistoryPath(), std::ios::binary);  // the run's folder is ASCII
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void AppSession::Start(const std::string& simConfig) {
    const std::string stage = WindowsPath(METERLOAD_WINE_STAGE);
    StartIn(stage, stage, simConfig);
}

void AppSession::StartIn(const std::string& programFolder, const std::string& currentFolder,
                         const std::string& simConfig) {
    const std::string config =
        simConfig + "\nstate=" + runDir_ + "\\zqsim.state\ntranscript=" + transcriptPath_ + "\n";
    const std::string configPath = WriteRunFile("zqsim.conf", {config.begin(), config.end()});

    // The program's environment: ours without settings for the simulator,
    // plus the run's configuration file.
    std::string environment;
    const LPCH inherited = GetEnvironmentStringsA();
    for (const char* entry = inherited; *entry != '\0'; entry += std::strlen(entry) + 1) {
        if (_strnicmp(entry, "ZQSIM_", 6) != 0 && _strnicmp(entry, "METERLOAD_HISTORY=", 18) != 0) {
            environment.append(entry).push_back('\0');
        }
    }
    FreeEnvironmentStringsA(inherited);
    environment.append("ZQSIM_CONFIG=" + configPath).push_back('\0');
    // Each run starts with no history; the run's folder outlives it.
    DeleteFileA(HistoryPath().c_str());
    environment.append("METERLOAD_HISTORY=" + HistoryPath()).push_back('\0');
    environment.push_back('\0');

    const std::string program = programFolder + "\\meterload.exe";
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        environment.data(), currentFolder.c_str(), &startup, &process_)) {
        throw std::runtime_error("cannot start " + program + ": error " +
                                 std::to_string(GetLastError()));
    }
}

bool AppSession::Running() const {
    return process_.hProcess != nullptr &&
           WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool AppSession::WaitForExit(milliseconds timeout) const {
    return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) ==
           WAIT_OBJECT_0;
}

DWORD AppSession::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

HWND AppSession::FindDialog(const std::string& caption) const {
    DialogSearch search{process_.dwProcessId, "#32770", &caption, nullptr};
    EnumWindows(&FindDialogProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND AppSession::WaitForPopupMenu(milliseconds timeout) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            DialogSearch search{process_.dwProcessId, "#32768", nullptr, nullptr};
            EnumWindows(&FindDialogProc, reinterpret_cast<LPARAM>(&search));
            return (found = search.found) != nullptr;
        },
        timeout);
    return found;
}

HWND AppSession::WaitForDialog(const std::string& caption, milliseconds timeout) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(caption)) != nullptr || !Running(); }, timeout);
    return found;
}

bool AppSession::WaitForNoDialog(const std::string& caption, milliseconds timeout) const {
    return WaitUntil([&] { return FindDialog(caption) == nullptr; }, timeout);
}

HWND AppSession::Control(int id) const {
    return GetDlgItem(MainDialog(), id);
}

std::string AppSession::Text(HWND window) {
    if (window == nullptr) {
        return "<no window>";
    }
    // Asked in UTF-16 and given as UTF-8, as the program keeps its texts.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length)) {
        return "<no answer>";
    }
    std::vector<wchar_t> text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
        return "<no answer>";
    }
    return Utf8(std::wstring(text.data(), copied));
}

std::string AppSession::LogText() const {
    return Text(Control(1000));
}

std::vector<std::string> AppSession::LogLines() const {
    return testing::SplitLogLines(LogText());
}

void AppSession::Click(int id) const {
    PostMessageA(Control(id), BM_CLICK, 0, 0);
}

std::string AppSession::BoxText(HWND box) const {
    std::string text;
    for (HWND child : Children(box)) {
        // An icon's static carries the icon's resource name, not a text.
        const auto style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        if (WindowClass(child) == "Static" && (style & SS_TYPEMASK) != SS_ICON) {
            const std::string part = Text(child);
            if (!part.empty()) {
                text += (text.empty() ? "" : "\n") + part;
            }
        }
    }
    return text;
}

void AppSession::Press(HWND dialog, int button) const {
    PostMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}

bool AppSession::OpenFile(const std::string& path) const {
    const HWND open = WaitForDialog("Open");
    if (open == nullptr) {
        return false;
    }
    HWND name = GetDlgItem(open, kOpenFileNameCombo);
    if (name != nullptr && WindowClass(name) != "Edit") {
        HWND edit = FindWindowExA(name, nullptr, "Edit", nullptr);
        if (edit == nullptr) {
            if (HWND inner = FindWindowExA(name, nullptr, "ComboBox", nullptr)) {
                edit = FindWindowExA(inner, nullptr, "Edit", nullptr);
            }
        }
        name = edit;
    }
    if (name == nullptr) {
        name = GetDlgItem(open, kOpenFileNameEdit);
    }
    if (name == nullptr) {
        return false;
    }
    DWORD_PTR ignored = 0;
    const std::wstring widePath = Wide(path);
    SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widePath.c_str()),
                        SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    Press(open, IDOK);
    return WaitForNoDialog("Open");
}

std::vector<std::string> AppSession::OpenDialogFileTypes() const {
    std::vector<std::string> types;
    const HWND open = FindDialog("Open");
    const HWND combo = open != nullptr ? GetDlgItem(open, kOpenFileTypeCombo) : nullptr;
    DWORD_PTR count = 0;
    if (combo == nullptr ||
        !SendMessageTimeoutA(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count)) {
        return types;
    }
    // The dialog's controls are Unicode windows; ask in their terms.
    for (WPARAM i = 0; i < count; ++i) {
        WCHAR wide[512] = {};
        DWORD_PTR length = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide),
                            SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
        types.push_back(Utf8(wide));
    }
    return types;
}

std::vector<WireEvent> AppSession::Transcript() const {
    return testing::ParseTranscript(ReadWholeFile(transcriptPath_));
}

std::vector<WireEvent> AppSession::Events(const std::string& event) const {
    std::vector<WireEvent> matching;
    for (WireEvent& e : Transcript()) {
        if (e.name == event) {
            matching.push_back(std::move(e));
        }
    }
    return matching;
}

namespace {

// Runs a Unix command line (Wine starts Unix programs too); false when it
// could not be started.
bool RunUnixCommand(std::string line) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &helper)) {
        return false;
    }
    if (WaitForSingleObject(helper.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(helper.hProcess, 1);
    }
    CloseHandle(helper.hThread);
    CloseHandle(helper.hProcess);
    return true;
}

// The size of a file, or 0.
ULONGLONG FileSize(const std::string& windowsPath) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(windowsPath).c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// A picture of one colour compresses to a few hundred bytes.
constexpr ULONGLONG kBlankPictureSize = 600;
constexpr int kScreenshotTries = 3;
constexpr milliseconds kScreenshotRetry{250};

}  // namespace

std::string AppSession::Screenshot(HWND window, const std::string& name) const {
    // The X server's picture of the window's own X window, found by its
    // title, frame and caption included, as the screen shows it. Wine's
    // virtual desktop does not always place a window's X window where the
    // window's Windows rectangle says (a dialog box opened from another one
    // is the case seen), so a crop of the screen at that rectangle can show
    // another window or the bare desktop.
    wchar_t title[256] = {};
    if (GetWindowTextW(window, title, 256) <= 0) {
        return {};
    }
    const std::string path = std::string(METERLOAD_WINE_SHOTS) + "/" + name + ".png";
    if (!RunUnixCommand("/bin/mkdir -p " + std::string(METERLOAD_WINE_SHOTS))) {
        return {};
    }
    const std::string command =
        std::string("/bin/sh ") + METERLOAD_WINE_SCREENSHOT + " \"" + Utf8(title) + "\" " + path;
    // A window that has just opened reaches the screen a little later, when
    // Wine's desktop has drawn it; until then the picture is the bare desktop.
    // The script takes the picture again while it is mostly one colour or
    // lacks the caption bar, and leaves no picture when it stays so.
    for (int attempt = 0; attempt < kScreenshotTries; ++attempt) {
        if (!RunUnixCommand(command)) {
            return {};
        }
        if (FileSize(WindowsPath(path)) > kBlankPictureSize) {
            return path;
        }
        std::this_thread::sleep_for(kScreenshotRetry);
    }
    return {};
}

}  // namespace meterload::wine
