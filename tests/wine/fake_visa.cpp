// A VISA library that must never be loaded: it exports none of the VISA
// functions, and loading it leaves a file named after it with ".loaded"
// added, beside it, for the test to find.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        std::wstring path(32768, L'\0');
        path.resize(GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size())));
        const HANDLE mark = CreateFileW((path + L".loaded").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (mark != INVALID_HANDLE_VALUE) {
            CloseHandle(mark);
        }
    }
    return TRUE;
}
