#include "fuzz/memory_file.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace meterload::fuzzing {

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::perror(what);
    std::abort();
}

}  // namespace

MemoryFile::MemoryFile()
{
    fd_ = memfd_create("meterload-fuzz", MFD_CLOEXEC);
    if (fd_ >= 0) {
        path_ = "/proc/self/fd/" + std::to_string(fd_);
        return;
    }
    // Without memfd (old kernels, some sandboxes): a file in shared memory.
    path_ = "/dev/shm/meterload-fuzz-" + std::to_string(getpid());
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        Fail("meterload fuzz: cannot create the memory file");
    }
}

MemoryFile::~MemoryFile()
{
    if (path_.rfind("/dev/shm/", 0) == 0) {
        unlink(path_.c_str());
    }
    close(fd_);
}

void MemoryFile::Replace(const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(fd_, 0) != 0) {
        Fail("meterload fuzz: ftruncate");
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) {
            Fail("meterload fuzz: pwrite");
        }
        done += static_cast<std::size_t>(wrote);
    }
}

MemoryFile& SharedMemoryFile()
{
    static MemoryFile file;
    return file;
}

}  // namespace meterload::fuzzing
