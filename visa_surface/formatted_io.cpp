#include "visa_surface/formatted_io.h"

#include "visa_surface/visa_backend.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace visa_surface {
namespace {

constexpr unsigned kMaxWidth = 0x7FFFFFFF;

struct Directive {
    bool sized = false;  // the # modifier
    bool isLong = false;
    unsigned width = 0;
    char conversion = 0;
};

// Reads the directive after a '%' at `format[pos]`; pos ends after it.
bool ParseDirective(const char* format, std::size_t& pos, Directive& directive)
{
    if (format[pos] == '#') {
        directive.sized = true;
        ++pos;
    }
    while (std::isdigit(static_cast<unsigned char>(format[pos])) != 0) {
        // An absurd width stays absurdly large instead of wrapping round to a small one.
        const unsigned digit = static_cast<unsigned>(format[pos] - '0');
        directive.width = directive.width > (kMaxWidth - digit) / 10 ? kMaxWidth : directive.width * 10 + digit;
        ++pos;
    }
    if (format[pos] == 'l') {
        directive.isLong = true;
        ++pos;
    }
    directive.conversion = format[pos];
    if (directive.conversion == 0) {
        return false;
    }
    ++pos;
    return true;
}

ViStatus FormatWrite(const char* format, va_list& args, std::string& text)
{
    for (std::size_t pos = 0; format[pos] != 0;) {
        if (format[pos] != '%') {
            text.push_back(format[pos++]);
            continue;
        }
        ++pos;
        Directive directive;
        if (!ParseDirective(format, pos, directive)) {
            return VI_ERROR_INV_FMT;
        }
        char number[32];
        switch (directive.conversion) {
        case '%': text.push_back('%'); break;
        case 's': {
            const char* value = va_arg(args, const char*);
            if (value == nullptr) {
                return VI_ERROR_USER_BUF;
            }
            text += value;
            break;
        }
        case 'c': text.push_back(static_cast<char>(va_arg(args, int))); break;
        case 'd':
        case 'i':
            std::snprintf(number, sizeof number, "%ld", directive.isLong ? va_arg(args, long) : va_arg(args, int));
            text += number;
            break;
        case 'u':
            std::snprintf(number, sizeof number, "%lu",
                          directive.isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned));
            text += number;
            break;
        case 'x':
            std::snprintf(number, sizeof number, "%lx",
                          directive.isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned));
            text += number;
            break;
        default: return VI_ERROR_NSUP_FMT;
        }
    }
    return VI_SUCCESS;
}

// Copies `text` into the caller's string argument, within its size.
ViStatus StoreString(const Directive& directive, va_list& args, const std::string& text)
{
    std::size_t capacity = kUnsizedStringLimit + 1;
    int* sizeArgument = nullptr;
    if (directive.sized) {
        sizeArgument = va_arg(args, int*);
        if (sizeArgument == nullptr || *sizeArgument <= 0) {
            return VI_ERROR_USER_BUF;
        }
        capacity = static_cast<std::size_t>(*sizeArgument);
    } else if (directive.width > 0) {
        capacity = static_cast<std::size_t>(directive.width) + 1;
    }
    char* target = va_arg(args, char*);
    if (target == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    const std::size_t copied = std::min(text.size(), capacity - 1);
    std::memcpy(target, text.data(), copied);
    target[copied] = 0;
    if (sizeArgument != nullptr) {
        *sizeArgument = static_cast<int>(copied);
    }
    return VI_SUCCESS;
}

ViStatus ScanRead(const char* format, va_list& args, const std::string& reply)
{
    std::size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < reply.size() && std::isspace(static_cast<unsigned char>(reply[at])) != 0) {
            ++at;
        }
    };
    for (std::size_t pos = 0; format[pos] != 0;) {
        const char c = format[pos];
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            skipBlanks();
            ++pos;
            continue;
        }
        if (c != '%') {
            if (at >= reply.size() || reply[at] != c) {
                return VI_ERROR_INV_FMT;
            }
            ++at;
            ++pos;
            continue;
        }
        ++pos;
        Directive directive;
        if (!ParseDirective(format, pos, directive)) {
            return VI_ERROR_INV_FMT;
        }
        ViStatus status = VI_SUCCESS;
        switch (directive.conversion) {
        case '%':
            if (at >= reply.size() || reply[at] != '%') {
                return VI_ERROR_INV_FMT;
            }
            ++at;
            break;
        case 's': {
            skipBlanks();
            const std::size_t begin = at;
            while (at < reply.size() && std::isspace(static_cast<unsigned char>(reply[at])) == 0) {
                ++at;
            }
            status = StoreString(directive, args, reply.substr(begin, at - begin));
            break;
        }
        case 't':
        case 'T':
            status = StoreString(directive, args, reply.substr(at));
            at = reply.size();
            break;
        case 'c': {
            char* target = va_arg(args, char*);
            if (target == nullptr || at >= reply.size()) {
                return target == nullptr ? VI_ERROR_USER_BUF : VI_ERROR_INV_FMT;
            }
            *target = reply[at++];
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'f': {
            skipBlanks();
            const char* begin = reply.c_str() + at;
            char* end = nullptr;
            const int base = directive.conversion == 'x' ? 16 : directive.conversion == 'i' ? 0 : 10;
            void* target = va_arg(args, void*);
            if (target == nullptr) {
                return VI_ERROR_USER_BUF;
            }
            // The caller's variable keeps its value unless a number was read.
            if (directive.conversion == 'f') {
                const double value = std::strtod(begin, &end);
                if (end == begin) {
                    return VI_ERROR_INV_FMT;
                }
                if (directive.isLong) {
                    *static_cast<double*>(target) = value;
                } else {
                    *static_cast<float*>(target) = static_cast<float>(value);
                }
            } else {
                const long value = std::strtol(begin, &end, base);
                if (end == begin) {
                    return VI_ERROR_INV_FMT;
                }
                if (directive.isLong) {
                    *static_cast<long*>(target) = value;
                } else {
                    *static_cast<int*>(target) = static_cast<int>(value);
                }
            }
            at += static_cast<std::size_t>(end - begin);
            break;
        }
        default: return VI_ERROR_NSUP_FMT;
        }
        if (status != VI_SUCCESS) {
            return status;
        }
    }
    return VI_SUCCESS;
}

}  // namespace

ViStatus FormattedQuery(ViSession vi, const char* writeFormat, const char* readFormat, va_list args)
{
    VisaBackend& backend = TheBackend();
    if (backend.Sessions().Find(vi, Session::Kind::Instrument) == nullptr) {
        return VI_ERROR_INV_OBJECT;
    }
    if (writeFormat == nullptr || readFormat == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    va_list local;
    va_copy(local, args);
    std::string text;
    ViStatus status = FormatWrite(writeFormat, local, text);
    if (status == VI_SUCCESS) {
        ViUInt32 written = 0;
        status = backend.Write(vi, reinterpret_cast<const ViByte*>(text.data()), static_cast<ViUInt32>(text.size()),
                               &written, "viQueryf");
    }
    std::string reply;
    while (status >= VI_SUCCESS) {
        ViByte chunk[256];
        ViUInt32 received = 0;
        status = backend.Read(vi, chunk, sizeof chunk, &received, "viQueryf");
        reply.append(reinterpret_cast<const char*>(chunk), received);
        if (status != VI_SUCCESS_MAX_CNT) {
            break;
        }
    }
    if (status >= VI_SUCCESS) {
        status = ScanRead(readFormat, local, reply);
    }
    va_end(local);
    return status;
}

}  // namespace visa_surface
