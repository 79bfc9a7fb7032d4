#include "platform/file.h"

#include "platform/wide_text_win32.h"

#include <windows.h>

namespace meterload {

struct File::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

File::File(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

File::~File()
{
    if (impl_ && impl_->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(impl_->handle);
    }
}

std::unique_ptr<File> File::Open(const std::string& path, Sharing sharing)
{
    // Denying write access also fails the open when someone already writes the file.
    const DWORD share = sharing == Sharing::DenyWrite ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Paths are UTF-8; the wide form reaches every file name, code page or not.
    HANDLE handle = CreateFileW(WideText(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->handle = handle;
    return std::unique_ptr<File>(new File(std::move(impl)));
}

std::int64_t File::Read(void* buffer, std::size_t count)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t want = count - done;
        const DWORD ask = want > 0x40000000u ? 0x40000000u : static_cast<DWORD>(want);
        DWORD got = 0;
        if (!ReadFile(impl_->handle, out + done, ask, &got, nullptr)) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

bool File::Seek(std::int64_t offset)
{
    if (offset < 0) {
        return false;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(impl_->handle, distance, nullptr, FILE_BEGIN) != 0;
}

std::int64_t File::Size() const
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(impl_->handle, &size)) {
        return -1;
    }
    return size.QuadPart;
}

}  // namespace meterload
