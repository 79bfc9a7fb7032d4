#include "tests/wine/firmware_files.h"

#include <cstdio>
#include <stdexcept>

namespace meterload::wine {

Bytes ImageBody(std::size_t size, std::uint8_t seed) {
    Bytes body(size);
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<std::uint8_t>((i * 31u + seed) & 0xFFu);
    }
    return body;
}

Bytes StoredHeader(const std::string& identity, const std::string& version,
                   std::uint8_t targetKind) {
    Bytes header(50, 0);
    header[0] = 0x5A;
    for (std::size_t i = 0; i < 15 && i < identity.size(); ++i) {
        header[1 + i] = static_cast<std::uint8_t>(identity[i]);
    }
    for (std::size_t i = 0; i < 5 && i < version.size(); ++i) {
        header[41 + i] = static_cast<std::uint8_t>(version[i]);
    }
    header[46] = targetKind;
    for (auto& b : header) {
        b = static_cast<std::uint8_t>(~b);
    }
    return header;
}

Bytes SingleImage(const std::string& version, std::uint8_t targetKind, const Bytes& body) {
    Bytes image = StoredHeader("KORVALEN ZQ6140", version, targetKind);
    image.insert(image.end(), body.begin(), body.end());
    return image;
}

namespace {
void PutInt32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    }
}
}  // namespace

Bytes Package(const Bytes& lead, const std::vector<Bytes>& others) {
    constexpr std::size_t kHeader = 516;
    constexpr std::size_t kEntry = 520;
    std::vector<const Bytes*> images{&lead};
    for (const Bytes& other : others) {
        images.push_back(&other);
    }
    const std::size_t table = kHeader + kEntry * images.size();
    Bytes out(table, 0);
    PutInt32(out, 512, static_cast<std::uint32_t>(images.size()));
    for (std::size_t n = 0; n < images.size(); ++n) {
        const std::size_t entry = kHeader + kEntry * n;
        PutInt32(out, entry, static_cast<std::uint32_t>(out.size()));
        PutInt32(out, entry + 4, static_cast<std::uint32_t>(images[n]->size()));
        const std::string name = "image" + std::to_string(n + 1) + ".bin";
        for (std::size_t i = 0; i < name.size(); ++i) {
            out[entry + 8 + i] = static_cast<std::uint8_t>(name[i]);
        }
        out.insert(out.end(), images[n]->begin(), images[n]->end());
    }
    return out;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (written != bytes.size()) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace meterload::wine
