#include "platform/library_search.h"

#include "platform/library_search_win32.h"

#include <windows.h>

namespace meterload {

bool LibrarySearchFlagsSupported()
{
    // Present wherever LoadLibraryEx takes the LOAD_LIBRARY_SEARCH_* flags
    // (Windows 8, and Windows 7 with its loader update).
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

void RestrictLibrarySearch()
{
    if (LibrarySearchFlagsSupported()) {
        using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
        const auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
        if (set != nullptr && set(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
            return;
        }
    }
    // The older loader: an empty name takes the current directory out and
    // leaves the rest of the standard search as it is.
    SetDllDirectoryW(L"");
}

}  // namespace meterload
