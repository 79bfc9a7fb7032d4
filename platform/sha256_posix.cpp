// SHA-256 through nettle.
#include "platform/sha256.h"

#include "platform/hex_text.h"

#include <nettle/sha2.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace meterload {

std::optional<std::string> FileSha256(const std::string& path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        return std::nullopt;
    }
    sha256_ctx context{};
    sha256_init(&context);
    std::array<std::uint8_t, 64 * 1024> buffer{};
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file.get());
        sha256_update(&context, count, buffer.data());
        if (count < buffer.size()) {
            break;
        }
    }
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return HexText(digest.data(), digest.size());
}

}  // namespace meterload
