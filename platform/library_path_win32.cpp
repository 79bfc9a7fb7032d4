// Which file the loader took for a library loaded by name.
#include "platform/dynamic_library.h"

#include <windows.h>

namespace meterload {

std::string DynamicLibrary::Path() const
{
    if (handle_ == nullptr) {
        return {};
    }
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(handle_), path, MAX_PATH);
    return length == 0 ? std::string() : std::string(path, length);
}

}  // namespace meterload
