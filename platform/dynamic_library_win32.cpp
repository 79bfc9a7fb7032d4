#include "platform/dynamic_library.h"

#include "platform/library_search_win32.h"
#include "platform/wide_text_win32.h"

#include <windows.h>

namespace meterload {

#ifdef _WIN64
const char* const kVisaLibraryName = "visa64.dll";
const char* const kVisaLibraryFallbackName = "visa32.dll";
#else
const char* const kVisaLibraryName = "visa32.dll";
const char* const kVisaLibraryFallbackName = nullptr;
#endif

DynamicLibrary::~DynamicLibrary()
{
    Unload();
}

namespace {

bool HasFolder(const std::wstring& name)
{
    return name.find_first_of(L"\\/:") != std::wstring::npos;
}

// A name with a folder is loaded from there (its own dependencies beside it);
// a bare name from the program's folder and the system folders, never from
// the current directory, whatever the process's search allows.
HMODULE LoadFromSafePlaces(const std::wstring& name)
{
    if (!LibrarySearchFlagsSupported()) {
        return LoadLibraryW(name.c_str());
    }
    if (!HasFolder(name)) {
        return LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
    // The search flags take full paths only.
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    const DWORD written = length == 0 ? 0 : GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) {
        return nullptr;
    }
    full.resize(written);
    return LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

}  // namespace

bool DynamicLibrary::Load(const std::string& name)
{
    Unload();
    HMODULE module = name.empty() ? nullptr : LoadFromSafePlaces(WideText(name));
    if (module == nullptr) {
        lastError_ = "cannot load " + name + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    handle_ = reinterpret_cast<void*>(module);
    lastError_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const
{
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Unload()
{
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace meterload
