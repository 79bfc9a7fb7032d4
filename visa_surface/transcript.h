// The record of what crossed the simulated wire: one event per line,
// "<microseconds> <event> key=value ...", kept in memory and, when a path is
// configured, appended to a file and flushed line by line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace visa_surface {

// Builds one event line; values are escaped so that they hold no blanks.
class EventLine {
public:
    explicit EventLine(const char* name);
    EventLine& Add(const char* key, const std::string& value);
    EventLine& Add(const char* key, std::uint64_t value);
    EventLine& AddStatus(std::int32_t status);
    EventLine& AddHex(const char* key, const unsigned char* bytes, std::size_t count);
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// `value` with blanks, control characters, bytes above 0x7E and backslashes
// written as C escapes.
std::string EscapeValue(const std::string& value);

class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Starts writing to `path` (none when empty); `truncate` empties the file.
    void SetFile(const std::string& path, bool truncate);
    void ClearMemory() { memory_.clear(); }
    void Record(std::uint64_t timeUs, const EventLine& line);
    const std::string& Text() const { return memory_; }

private:
    std::string memory_;
    std::FILE* file_ = nullptr;
};

}  // namespace visa_surface
