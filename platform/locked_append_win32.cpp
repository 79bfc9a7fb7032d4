#include "platform/locked_append.h"

#include "platform/environment.h"
#include "platform/wide_text_win32.h"

#include <windows.h>

namespace meterload {

namespace {

std::string Reason(const char* step, const std::string& path)
{
    return std::string(step) + " " + path + ": error " + std::to_string(GetLastError());
}

bool MakeParents(const std::string& path)
{
    for (std::size_t slash = path.find_first_of("\\/", 3); slash != std::string::npos;
         slash = path.find_first_of("\\/", slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (!CreateDirectoryW(WideText(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool AppendLocked(const std::string& path, const std::string& text, std::string& error)
{
    if (!MakeParents(path)) {
        error = Reason("cannot create the folder of", path);
        return false;
    }
    const HANDLE file =
        CreateFileW(WideText(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Reason("cannot open", path);
        return false;
    }
    // The whole file's range, far past any end it will reach: every appender
    // waits for the one before it.
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = Reason("cannot lock", path);
        CloseHandle(file);
        return false;
    }
    bool ok = true;
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file, end, nullptr, FILE_END)) {
        error = Reason("cannot seek", path);
        ok = false;
    }
    std::size_t done = 0;
    while (ok && done < text.size()) {
        DWORD n = 0;
        if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0) {
            error = Reason("cannot write", path);
            ok = false;
        }
        done += n;
    }
    if (ok && !FlushFileBuffers(file)) {
        error = Reason("cannot flush", path);
        ok = false;
    }
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(file);
    return ok;
}

std::string UserStateFolder()
{
    // Read wide: a profile folder named outside the user's code page keeps
    // its letters.
    const std::optional<std::string> local = NonEmptyEnvironmentText("LOCALAPPDATA");
    return local ? *local + "\\MeterLoad" : std::string();
}

}  // namespace meterload
