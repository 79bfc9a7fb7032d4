// SHA-256 through the system's cryptography API.
#include "platform/sha256.h"

#include "platform/hex_text.h"
#include "platform/wide_text_win32.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace meterload {

namespace {

// The algorithm and hash handles, released on every way out.
struct Hash {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Hash()
    {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

bool Ok(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

std::optional<std::string> FileSha256(const std::string& path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(_wfopen(WideText(path).c_str(), L"rb"), std::fclose);
    if (!file) {
        return std::nullopt;
    }
    Hash hash;
    if (!Ok(BCryptOpenAlgorithmProvider(&hash.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Ok(BCryptCreateHash(hash.algorithm, &hash.hash, nullptr, 0, nullptr, 0, 0))) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 64 * 1024> buffer{};
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (count > 0 && !Ok(BCryptHashData(hash.hash, buffer.data(), static_cast<ULONG>(count), 0))) {
            return std::nullopt;
        }
        if (count < buffer.size()) {
            break;
        }
    }
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 32> digest{};
    if (!Ok(BCryptFinishHash(hash.hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        return std::nullopt;
    }
    return HexText(digest.data(), digest.size());
}

}  // namespace meterload
