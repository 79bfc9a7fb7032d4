// Byte-exact, read-only access to firmware and package files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace meterload {

class File {
public:
    enum class Sharing {
        Any,        // other programs may read and write the file meanwhile
        DenyWrite,  // opening fails while another program writes it, and
                    // nobody may open it for writing while we hold it
    };

    // Opens `path` (UTF-8, any script) read-only in binary mode. Null when it
    // cannot be opened.
    static std::unique_ptr<File> Open(const std::string& path, Sharing sharing = Sharing::Any);

    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads up to `count` bytes at the current position. Returns the number
    // read (0 at the end of the file), or -1 on a read error.
    std::int64_t Read(void* buffer, std::size_t count);

    // Moves to `offset` bytes from the start. False on failure.
    bool Seek(std::int64_t offset);

    // The file's size in bytes, or -1 when it cannot be told.
    std::int64_t Size() const;

private:
    struct Impl;
    explicit File(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Reads exactly `count` bytes at the current position; false when the file
// ends or fails first.
inline bool ReadExactly(File& file, void* destination, std::size_t count)
{
    return file.Read(destination, count) == static_cast<std::int64_t>(count);
}

}  // namespace meterload
