#include "platform/dynamic_library.h"

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

bool DynamicLibrary::Load(const std::string& name)
{
    Unload();
    HMODULE module = LoadLibraryA(name.c_str());
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
