#include "tests/update/write_holder.h"

#if defined(_WIN32)

#include <windows.h>

namespace meterload::testing {

WriteHolder::WriteHolder(const std::string& path)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        handle_ = handle;
        holding_ = true;
    }
}

WriteHolder::~WriteHolder()
{
    if (holding_) {
        CloseHandle(static_cast<HANDLE>(handle_));
    }
}

}  // namespace meterload::testing

#else

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace meterload::testing {

WriteHolder::WriteHolder(const std::string& path)
{
    int ready[2];
    int release[2];
    if (pipe(ready) != 0) {
        return;
    }
    if (pipe(release) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        close(release[1]);
        char taken = 0;
        const int fd = open(path.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0) {
            taken = 1;
        }
        if (write(ready[1], &taken, 1) != 1) {
            _exit(1);
        }
        // Holds on until the parent closes its end.
        char ignored = 0;
        while (read(release[0], &ignored, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    if (child < 0) {
        close(ready[0]);
        close(release[1]);
        return;
    }
    child_ = static_cast<int>(child);
    release_ = release[1];
    char taken = 0;
    holding_ = read(ready[0], &taken, 1) == 1 && taken == 1;
    close(ready[0]);
}

WriteHolder::~WriteHolder()
{
    if (release_ >= 0) {
        close(release_);
    }
    if (child_ > 0) {
        int status = 0;
        waitpid(static_cast<pid_t>(child_), &status, 0);
    }
}

}  // namespace meterload::testing

#endif
