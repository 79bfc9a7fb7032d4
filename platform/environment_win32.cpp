#include "platform/environment.h"

#include "platform/wide_text_win32.h"

#include <windows.h>

#include <vector>

namespace meterload {

std::optional<std::string> EnvironmentText(const char* name)
{
    const std::wstring wideName = WideText(name);
    // The variable may change between the two calls; the loop takes the
    // size it has when it is read.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length =
            GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();
        }
        if (length < buffer.size()) {
            return Utf8Text(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

}  // namespace meterload
