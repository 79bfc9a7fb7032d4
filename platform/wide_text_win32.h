// The program keeps its texts and paths in UTF-8; Windows takes and gives
// them as UTF-16 at its wide-character functions. Windows builds only.
#pragma once

#include <string>

namespace meterload {

// Bytes that are not UTF-8 become U+FFFD; nothing is refused.
std::wstring WideText(const std::string& utf8);
std::string Utf8Text(const wchar_t* wide, std::size_t length);
std::string Utf8Text(const std::wstring& wide);

}  // namespace meterload
