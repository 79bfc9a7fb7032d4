#include "platform/wide_text_win32.h"

#include <windows.h>

#include <climits>

namespace meterload {

std::wstring WideText(const std::string& utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    }
    return wide;
}

std::string Utf8Text(const wchar_t* wide, std::size_t length)
{
    if (length == 0 || length > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide, size, utf8.data(), bytes, nullptr, nullptr);
    }
    return utf8;
}

std::string Utf8Text(const std::wstring& wide)
{
    return Utf8Text(wide.data(), wide.size());
}

}  // namespace meterload
