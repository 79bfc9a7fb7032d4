#include "tests/wine/firmware_files.h"

#include "tests/support/package_builder.h"
#include "tests/wine/app_session.h"

#include <windows.h>

#include <stdexcept>

namespace meterload::wine {

Bytes ImageBody(std::size_t size, std::uint8_t seed) {
    return testing::ImageBody(size, seed);
}

Bytes StoredHeader(const std::string& identity, const std::string& version,
                   std::uint8_t targetKind) {
    testing::ImageSpec spec;
    spec.identity = identity;
    spec.version = version;
    spec.targetKind = targetKind;
    return testing::ImageHeaderBytes(spec);
}

Bytes SingleImage(const std::string& version, std::uint8_t targetKind, const Bytes& body) {
    Bytes image = StoredHeader("KORVALEN ZQ6140", version, targetKind);
    image.insert(image.end(), body.begin(), body.end());
    return image;
}

Bytes Package(const Bytes& lead, const std::vector<Bytes>& others) {
    testing::PackageBuilder package;
    package.Image(lead, "image1.bin");
    for (std::size_t n = 0; n < others.size(); ++n) {
        package.Image(others[n], "image" + std::to_string(n + 2) + ".bin");
    }
    return package.Build();
}

// Written here rather than shared with the simulator, so that the two
// computations check each other.
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
    // Through the wide name: folders of the tests are named in any script.
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok =
        file != INVALID_HANDLE_VALUE &&
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (!ok) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace meterload::wine
