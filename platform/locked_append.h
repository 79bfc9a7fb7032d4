// Appending to a file that several processes and threads append to at once:
// each text goes in whole, under an exclusive lock, and is on disk before the
// lock is let go.
#pragma once

#include <string>

namespace meterload {

// Appends `text` to `path` (UTF-8), creating the file and its missing folders. False
// with the reason in `error` when it could not be written whole.
bool AppendLocked(const std::string& path, const std::string& text, std::string& error);

// The folder where this user's state of the program is kept (history and the
// like), in UTF-8; empty when the system names none.
std::string UserStateFolder();

}  // namespace meterload
