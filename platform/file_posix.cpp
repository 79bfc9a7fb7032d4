#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meterload {

struct File::Impl {
    int fd = -1;
};

File::File(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

File::~File()
{
    if (impl_ && impl_->fd >= 0) {
        close(impl_->fd);
    }
}

std::unique_ptr<File> File::Open(const std::string& path, Sharing sharing)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    // POSIX has no mandatory share modes; an advisory read lock is the nearest
    // thing, and it refuses a file that a cooperating writer holds locked.
    if (sharing == Sharing::DenyWrite) {
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd, F_SETLK, &lock) != 0) {
            close(fd);
            return nullptr;
        }
    }
    auto impl = std::make_unique<Impl>();
    impl->fd = fd;
    return std::unique_ptr<File>(new File(std::move(impl)));
}

std::int64_t File::Read(void* buffer, std::size_t count)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    // A read may return less than asked before the end; only 0 means the end.
    while (done < count) {
        const ssize_t got = read(impl_->fd, out + done, count - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

bool File::Seek(std::int64_t offset)
{
    if (offset < 0) {
        return false;
    }
    return lseek(impl_->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t File::Size() const
{
    struct stat info {};
    if (fstat(impl_->fd, &info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_size);
}

}  // namespace meterload
