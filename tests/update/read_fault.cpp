#include "tests/update/read_fault.h"

#if defined(__linux__)

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace meterload::testing {
namespace {

std::atomic<bool> armed{false};
std::atomic<dev_t> faultDevice{0};
std::atomic<ino_t> faultInode{0};
std::atomic<std::int64_t> faultOffset{0};

}  // namespace

bool ReadFault::Supported()
{
    return true;
}

void ReadFault::Arm(const std::string& path, std::int64_t offset)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return;
    }
    faultDevice = info.st_dev;
    faultInode = info.st_ino;
    faultOffset = offset;
    armed = true;
}

void ReadFault::Disarm()
{
    armed = false;
}

}  // namespace meterload::testing

// The executable's definition takes the place of the C library's for the
// code linked into it.
extern "C" ssize_t read(int fd, void* buffer, size_t count)
{
    using namespace meterload::testing;
    if (armed) {
        struct stat info {};
        if (fstat(fd, &info) == 0 && info.st_dev == faultDevice && info.st_ino == faultInode &&
            lseek(fd, 0, SEEK_CUR) >= faultOffset) {
            errno = EIO;
            return -1;
        }
    }
    return static_cast<ssize_t>(syscall(SYS_read, fd, buffer, count));
}

#else

namespace meterload::testing {
bool ReadFault::Supported()
{
    return false;
}
void ReadFault::Arm(const std::string&, std::int64_t) {}
void ReadFault::Disarm() {}
}  // namespace meterload::testing

#endif
