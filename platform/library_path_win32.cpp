// Which file the loader took for a library loaded by name.
#include "platform/dynamic_library.h"

#include "platform/wide_text_win32.h"

#include <windows.h>

#include <vector>

namespace meterload {

std::string DynamicLibrary::Path() const
{
    if (handle_ == nullptr) {
        return {};
    }
    // No MAX_PATH limit: the buffer grows until the whole path fits.
    for (DWORD size = MAX_PATH + 1; size <= 32768 * 2; size *= 2) {
        std::vector<wchar_t> path(size, L'\0');
        const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(handle_), path.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            return Utf8Text(path.data(), length);
        }
    }
    return {};
}

}  // namespace meterload
