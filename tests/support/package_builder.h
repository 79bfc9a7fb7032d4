// Builds firmware images and update packages byte by byte for tests and fuzz
// seeds: images with a chosen header, packages whose table may point anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace meterload::testing {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kTestImageHeaderSize = 50;
inline constexpr std::size_t kTestPackageHeaderSize = 516;
inline constexpr std::size_t kTestPackageEntrySize = 520;

// The decoded content of an image header; `identity` and `version` are cut or
// zero-padded to 15 and 5 bytes.
struct ImageSpec {
    std::string identity = "KORVALEN ZQ6140";
    std::string version = "02.06";
    std::uint8_t targetKind = 0;
    std::size_t bodySize = 0;
    std::uint8_t bodySeed = 1;  // images with different seeds have different bodies
    bool inverted = true;       // false stores the header as plain text
};

// The 50 header bytes as stored in a file.
inline Bytes ImageHeaderBytes(const ImageSpec& spec)
{
    Bytes decoded(kTestImageHeaderSize, 0);
    for (std::size_t i = 0; i < 15 && i < spec.identity.size(); ++i) {
        decoded[1 + i] = static_cast<std::uint8_t>(spec.identity[i]);
    }
    for (std::size_t i = 0; i < 5 && i < spec.version.size(); ++i) {
        decoded[41 + i] = static_cast<std::uint8_t>(spec.version[i]);
    }
    decoded[46] = spec.targetKind;
    if (spec.inverted) {
        for (auto& byte : decoded) {
            byte = static_cast<std::uint8_t>(~byte);
        }
    }
    return decoded;
}

// A body of `size` bytes that differs from position to position and from
// seed to seed, so that a misplaced or repeated chunk shows.
inline Bytes ImageBody(std::size_t size, std::uint8_t seed)
{
    Bytes body(size);
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<std::uint8_t>((i * 31u + seed * 17u + (i >> 8)) & 0xFFu);
    }
    return body;
}

// Header followed by body: a whole .bin file.
inline Bytes ImageBytes(const ImageSpec& spec)
{
    Bytes image = ImageHeaderBytes(spec);
    const Bytes body = ImageBody(spec.bodySize, spec.bodySeed);
    image.insert(image.end(), body.begin(), body.end());
    return image;
}

inline void PutLittleEndian32(Bytes& bytes, std::size_t at, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFFu);
    }
}

inline void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

// A .pak file. Images added with Image() are laid out after the table in the
// order they were added, each with an entry pointing at it; Entry() adds an
// entry with any offset and size, for overlapping or broken tables.
class PackageBuilder {
public:
    // Adds an entry for `image`, placed after the table and the images before it.
    PackageBuilder& Image(Bytes image, std::string name = "image.bin")
    {
        entries_.push_back({true, images_.size(), 0, 0, std::move(name)});
        images_.push_back(std::move(image));
        return *this;
    }

    // Adds an entry pointing at `size` bytes from `offset`, whatever lies there.
    PackageBuilder& Entry(std::int32_t offset, std::int32_t size, std::string name = "raw.bin")
    {
        entries_.push_back({false, 0, offset, size, std::move(name)});
        return *this;
    }

    // Writes `count` as the entry count instead of the number of entries.
    PackageBuilder& EntryCount(std::int32_t count)
    {
        countOverride_ = count;
        hasCountOverride_ = true;
        return *this;
    }

    // Bytes appended after the images.
    PackageBuilder& Tail(const Bytes& tail)
    {
        tail_.insert(tail_.end(), tail.begin(), tail.end());
        return *this;
    }

    // Cuts the finished file to `size` bytes (a file that ends too early).
    PackageBuilder& TruncateTo(std::size_t size)
    {
        truncateTo_ = size;
        hasTruncate_ = true;
        return *this;
    }

    // Where the table ends and the first image added with Image() begins.
    std::size_t TableEnd() const { return kTestPackageHeaderSize + kTestPackageEntrySize * entries_.size(); }

    // Where image `index` (counted from 0, in the order of Image()) lies.
    std::size_t ImageOffset(std::size_t index) const
    {
        std::size_t offset = TableEnd();
        for (std::size_t i = 0; i < index; ++i) {
            offset += images_[i].size();
        }
        return offset;
    }

    Bytes Build() const
    {
        Bytes file(TableEnd(), 0);
        const auto count = hasCountOverride_ ? countOverride_ : static_cast<std::int32_t>(entries_.size());
        PutLittleEndian32(file, 512, count);
        for (std::size_t e = 0; e < entries_.size(); ++e) {
            const EntrySpec& spec = entries_[e];
            const std::size_t at = kTestPackageHeaderSize + kTestPackageEntrySize * e;
            const auto offset = spec.fromImage ? static_cast<std::int32_t>(ImageOffset(spec.image)) : spec.offset;
            const auto size = spec.fromImage ? static_cast<std::int32_t>(images_[spec.image].size()) : spec.size;
            PutLittleEndian32(file, at, offset);
            PutLittleEndian32(file, at + 4, size);
            for (std::size_t i = 0; i < spec.name.size() && i < 511; ++i) {
                file[at + 8 + i] = static_cast<std::uint8_t>(spec.name[i]);
            }
        }
        for (const Bytes& image : images_) {
            file.insert(file.end(), image.begin(), image.end());
        }
        file.insert(file.end(), tail_.begin(), tail_.end());
        if (hasTruncate_ && truncateTo_ < file.size()) {
            file.resize(truncateTo_);
        }
        return file;
    }

    void WriteTo(const std::string& path) const { WriteFileBytes(path, Build()); }

private:
    struct EntrySpec {
        bool fromImage;
        std::size_t image;
        std::int32_t offset;
        std::int32_t size;
        std::string name;
    };

    std::vector<EntrySpec> entries_;
    std::vector<Bytes> images_;
    Bytes tail_;
    std::int32_t countOverride_ = 0;
    bool hasCountOverride_ = false;
    std::size_t truncateTo_ = 0;
    bool hasTruncate_ = false;
};

}  // namespace meterload::testing
