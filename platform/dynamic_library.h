// Loading a shared library at run time and looking up its functions.
#pragma once

#include <string>

namespace meterload {

// The name under which the VISA library is found by the system's search:
// "visa64.dll" on 64-bit Windows, "visa32.dll" on 32-bit Windows,
// "libvisa.so" elsewhere.
extern const char* const kVisaLibraryName;

// The name to try when kVisaLibraryName is not found, or nullptr when there
// is none: 64-bit VISA installations put a 64-bit "visa32.dll" beside
// "visa64.dll", and some put only the former.
extern const char* const kVisaLibraryFallbackName;

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads `name` (UTF-8) through the system's library search, which on
    // Windows leaves out the current directory: the program's folder and the
    // system folders. A name with a directory part is taken as a path. False
    // when it cannot be loaded; LastError() then says why.
    bool Load(const std::string& name);
    bool IsLoaded() const { return handle_ != nullptr; }

    // The address of an exported function, or nullptr when it is missing.
    void* Symbol(const char* name) const;

    void Unload();

    // The file the loader took, as a full path; empty when none is loaded.
    std::string Path() const;

    const std::string& LastError() const { return lastError_; }

private:
    void* handle_ = nullptr;
    std::string lastError_;
};

}  // namespace meterload
