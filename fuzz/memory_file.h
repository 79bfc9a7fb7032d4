// One file in memory per process, rewritten for every input, so that the
// readers under test can open it by path without touching a disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace meterload::fuzzing {

class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Replaces the whole content; aborts when it cannot.
    void Replace(const std::uint8_t* data, std::size_t size);

    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// The process's one memory file.
MemoryFile& SharedMemoryFile();

}  // namespace meterload::fuzzing
