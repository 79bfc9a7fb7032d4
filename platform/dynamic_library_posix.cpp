#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace meterload {

const char* const kVisaLibraryName = "libvisa.so";
const char* const kVisaLibraryFallbackName = nullptr;

DynamicLibrary::~DynamicLibrary()
{
    Unload();
}

bool DynamicLibrary::Load(const std::string& name)
{
    Unload();
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        lastError_ = why != nullptr ? why : "cannot load " + name;
        return false;
    }
    lastError_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const
{
    if (handle_ == nullptr) {
        return nullptr;
    }
    return dlsym(handle_, name);
}

void DynamicLibrary::Unload()
{
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace meterload
