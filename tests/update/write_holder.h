// Keeps a file open for writing on behalf of another program, as an editor or
// a copy still in progress would, for as long as the object lives.
#pragma once

#include <string>

namespace meterload::testing {

class WriteHolder {
public:
    explicit WriteHolder(const std::string& path);
    ~WriteHolder();
    WriteHolder(const WriteHolder&) = delete;
    WriteHolder& operator=(const WriteHolder&) = delete;

    // False when the file could not be taken.
    bool Holding() const { return holding_; }

private:
    bool holding_ = false;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    // A child process holds the write lock: locks of our own process would
    // not stand in our own way.
    int child_ = -1;
    int release_ = -1;
#endif
};

}  // namespace meterload::testing
