// One bound VISA library plus one open ZQ6140.
#pragma once

#include "link/visa_types.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"

#include <cstdint>
#include <memory>
#include <string>

namespace meterload {

class InstrumentConnection {
public:
    // `library` is the VISA library to bind: by default the one the system's
    // search finds; tests name a particular build of it.
    explicit InstrumentConnection(Clock& clock, std::string library = kVisaLibraryName);
    virtual ~InstrumentConnection();

    InstrumentConnection(const InstrumentConnection&) = delete;
    InstrumentConnection& operator=(const InstrumentConnection&) = delete;

    // Binds the library and opens the first ZQ6140 found. Callers test FoundCount().
    void Open();

    // Number of instruments the search reported; 0 when none was found or
    // anything before the search failed, and after Close.
    std::uint32_t FoundCount() const { return foundCount_; }

    // Sends `count` bytes; pauses 10 ms afterwards whatever the outcome.
    // Returns the count the library reports as sent, or 0 when the library
    // reported anything but success or the connection is not open.
    std::uint32_t Write(const void* bytes, std::uint32_t count);

    // Receives one response into `buffer`, always zero-terminated inside
    // `capacity`. Returns the number of bytes received (0 when none arrived).
    std::uint32_t Read(void* buffer, std::uint32_t capacity);

    // Writes the 10-byte end-of-image frame.
    std::uint32_t SendEndFrame();

    // The serial-number field of the opened instrument's resource descriptor,
    // or an empty text when the descriptor has fewer than four fields.
    std::string SerialNumber() const;

    // Unloads the library; afterwards Write and Read return 0.
    void Close();

    bool IsOpen() const;

    // Why the last Open found nothing, for developers (tests, logs): empty
    // after a successful Open.
    const std::string& Diagnostic() const { return diagnostic_; }

private:
    bool Bind();
    void Unbind();

    Clock& clock_;
    std::string libraryName_;
    DynamicLibrary library_;

    std::uint32_t foundCount_ = 0;
    std::uint32_t timeout_ = 10000;
    int state_ = 0;  // 0 = not open, 2 = open
    visa::ViSession resourceManager_ = visa::VI_NULL;
    visa::ViSession instrument_ = visa::VI_NULL;
    visa::ViFindList findList_ = visa::VI_NULL;
    char descriptor_[visa::VI_FIND_BUFLEN] = {};
    std::string diagnostic_;

    struct Functions {
        visa::ViOpenDefaultRMFn openDefaultRM = nullptr;
        visa::ViFindRsrcFn findRsrc = nullptr;
        visa::ViCloseFn close = nullptr;
        visa::ViOpenFn open = nullptr;
        visa::ViFindNextFn findNext = nullptr;
        visa::ViQueryfFn queryf = nullptr;
        visa::ViWriteFn write = nullptr;
        visa::ViReadFn read = nullptr;
        visa::ViSetAttributeFn setAttribute = nullptr;
    } fn_;
};

}  // namespace meterload
