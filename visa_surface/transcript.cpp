#include "visa_surface/transcript.h"

#include <cinttypes>

namespace visa_surface {

std::string EscapeValue(const std::string& value)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (byte <= 0x20 || byte >= 0x7F) {
            escaped += "\\x";
            escaped.push_back(digits[byte >> 4]);
            escaped.push_back(digits[byte & 0x0F]);
        } else {
            escaped.push_back(c);
        }
    }
    return escaped;
}

EventLine::EventLine(const char* name) : text_(name) {}

EventLine& EventLine::Add(const char* key, const std::string& value)
{
    text_ += ' ';
    text_ += key;
    text_ += '=';
    text_ += EscapeValue(value);
    return *this;
}

EventLine& EventLine::Add(const char* key, std::uint64_t value)
{
    return Add(key, std::to_string(value));
}

EventLine& EventLine::AddStatus(std::int32_t status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, static_cast<std::uint32_t>(status));
    return Add("status", text);
}

EventLine& EventLine::AddHex(const char* key, const unsigned char* bytes, std::size_t count)
{
    static const char* const digits = "0123456789ABCDEF";
    text_ += ' ';
    text_ += key;
    text_ += '=';
    text_.reserve(text_.size() + 2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        text_.push_back(digits[bytes[i] >> 4]);
        text_.push_back(digits[bytes[i] & 0x0F]);
    }
    return *this;
}

Transcript::~Transcript()
{
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void Transcript::SetFile(const std::string& path, bool truncate)
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!path.empty()) {
        file_ = std::fopen(path.c_str(), truncate ? "wb" : "ab");
    }
    if (file_ != nullptr) {
        // Each line goes out in one write at the end of the file, so that
        // another process appending to it cannot cut into a line.
        std::setvbuf(file_, nullptr, _IONBF, 0);
    }
}

void Transcript::Record(std::uint64_t timeUs, const EventLine& line)
{
    std::string text = std::to_string(timeUs);
    text += ' ';
    text += line.Text();
    text += '\n';
    memory_ += text;
    if (file_ != nullptr) {
        std::fwrite(text.data(), 1, text.size(), file_);
    }
}

}  // namespace visa_surface
