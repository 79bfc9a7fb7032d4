// SHA-256 of a file, from the operating system's or a packaged library's
// implementation rather than one of our own.
#pragma once

#include <optional>
#include <string>

namespace meterload {

// The file's digest as 64 lowercase hex digits; nothing when it cannot be read.
std::optional<std::string> FileSha256(const std::string& path);

}  // namespace meterload
