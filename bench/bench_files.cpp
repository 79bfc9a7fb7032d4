#include "bench/bench_files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace meterload::bench {
namespace {

constexpr std::size_t kHeaderSize = 50;
constexpr std::size_t kPackageHeaderSize = 516;
constexpr std::size_t kPackageEntrySize = 520;
constexpr std::size_t kPieceSize = 64 * 1024;

std::array<std::uint8_t, kHeaderSize> StoredImageHeader()
{
    std::array<std::uint8_t, kHeaderSize> header{};
    std::memcpy(header.data() + 1, "KORVALEN ZQ6140", 15);
    std::memcpy(header.data() + 41, kNewerDspVersion, 5);
    header[46] = 0;  // DSP
    for (auto& byte : header) {
        byte = static_cast<std::uint8_t>(~byte);
    }
    return header;
}

void PutLittleEndian(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Writes `count` bytes of noise; real data defeats any shortcut for zeros.
void WriteNoise(std::ofstream& out, std::uint64_t count, std::mt19937& random)
{
    std::vector<char> piece(kPieceSize);
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, piece.size()));
        for (std::size_t i = 0; i < n; ++i) {
            piece[i] = static_cast<char>(random() & 0xFF);
        }
        out.write(piece.data(), static_cast<std::streamsize>(n));
        count -= n;
    }
}

std::ofstream Create(const std::string& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot create " + path);
    }
    return out;
}

void Finish(std::ofstream& out, const std::string& path)
{
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace

void WriteImageFile(const std::string& path, std::uint64_t totalSize)
{
    if (totalSize < kHeaderSize) {
        throw std::invalid_argument("an image holds at least its header");
    }
    std::mt19937 random(6140);
    auto out = Create(path);
    const auto header = StoredImageHeader();
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    WriteNoise(out, totalSize - kHeaderSize, random);
    Finish(out, path);
}

void WritePackageFile(const std::string& path, const std::vector<std::uint32_t>& entrySizes)
{
    if (entrySizes.empty() || entrySizes.front() < kHeaderSize) {
        throw std::invalid_argument("entry 1 holds at least its header");
    }
    std::mt19937 random(6141);
    auto out = Create(path);

    std::array<std::uint8_t, kPackageHeaderSize> header{};
    PutLittleEndian(header.data() + 512, static_cast<std::uint32_t>(entrySizes.size()));
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));

    std::uint64_t offset = kPackageHeaderSize + kPackageEntrySize * entrySizes.size();
    for (std::size_t n = 0; n < entrySizes.size(); ++n) {
        std::array<std::uint8_t, kPackageEntrySize> entry{};
        PutLittleEndian(entry.data(), static_cast<std::uint32_t>(offset));
        PutLittleEndian(entry.data() + 4, entrySizes[n]);
        std::snprintf(reinterpret_cast<char*>(entry.data() + 8), 512, "image%zu.bin", n + 1);
        out.write(reinterpret_cast<const char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
        offset += entrySizes[n];
    }

    const auto imageHeader = StoredImageHeader();
    out.write(reinterpret_cast<const char*>(imageHeader.data()), static_cast<std::streamsize>(imageHeader.size()));
    WriteNoise(out, entrySizes.front() - kHeaderSize, random);
    for (std::size_t n = 1; n < entrySizes.size(); ++n) {
        WriteNoise(out, entrySizes[n], random);
    }
    Finish(out, path);
}

std::string MakeTempDir()
{
    // create_directory fails on a name that exists, so the directory found is ours.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("meterload-bench-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) {
            return path.string();
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

void RemoveTree(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace meterload::bench
