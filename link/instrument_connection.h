// One bound VISA library plus one open ZQ6140.
#pragma once

#include "link/visa_types.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace meterload {

// One attached ZQ6140 as the search reports it.
struct FoundInstrument {
    std::string resource;  // the resource descriptor, USB0::0x1D47::0x0B62::ABC123::INSTR
    std::string serial;    // its serial-number field
};

// What a search over both resource patterns found, and what it learnt of the
// library on the way (for bug reports).
struct InstrumentSearch {
    std::vector<FoundInstrument> instruments;  // one per serial number, in the order found
    std::string libraryPath;                   // the file the system loaded, when bound
    std::string implementation;                // the library's maker and version, when it tells
    bool resourceManagerOpened = false;
};

// Why an open or a search found nothing.
enum class OpenFailure { None, LibraryMissing, FunctionMissing, ResourceManager, NotFound };

class InstrumentConnection {
public:
    // The pause after every write, whatever its outcome.
    static constexpr std::chrono::milliseconds kWritePause{10};

    // `library` is the VISA library to bind: by default the one the system's
    // search finds; tests name a particular build of it.
    explicit InstrumentConnection(Clock& clock, std::string library = kVisaLibraryName);
    virtual ~InstrumentConnection();

    InstrumentConnection(const InstrumentConnection&) = delete;
    InstrumentConnection& operator=(const InstrumentConnection&) = delete;

    // Binds the library and opens the first ZQ6140 found. Callers test FoundCount().
    void Open();

    // Binds the library and opens the ZQ6140 whose serial number is exactly
    // `serial`, whichever of the two patterns finds it. FoundCount() is 1 when
    // it was found and opened, 0 otherwise.
    void OpenSerial(const std::string& serial);

    // Open() for an empty `serial`, OpenSerial(serial) otherwise.
    void OpenSelected(const std::string& serial);

    // Binds the library and lists every attached ZQ6140 through both patterns,
    // however many of them find it; opens none and unloads the library again.
    InstrumentSearch FindAll();

    // Why the last Open, OpenSerial or FindAll found nothing (None after success).
    OpenFailure Failure() const { return failure_; }

    // Number of instruments the search reported; 0 when none was found or
    // anything before the search failed, and after Close.
    std::uint32_t FoundCount() const { return foundCount_; }

    // Sends `count` bytes; pauses 10 ms afterwards whatever the outcome.
    // Returns the count the library reports as sent, or 0 when the library
    // reported anything but success or the connection is not open.
    std::uint32_t Write(const void* bytes, std::uint32_t count);

    // Writes a command's text, as Write does.
    std::uint32_t Write(std::string_view command)
    {
        return Write(command.data(), static_cast<std::uint32_t>(command.size()));
    }

    // The deadline that the last write's 10 ms pause slept to (not when it
    // woke). A pause that follows a write with nothing sent or read between
    // counts from here, so that a late wake-up shortens it instead of adding
    // to the transfer; the instrument still gets at least both pauses.
    std::chrono::microseconds WritePauseEnd() const { return writePauseEnd_; }

    // Receives one response into `buffer`, always zero-terminated inside
    // `capacity`. Returns the number of bytes received (0 when none arrived).
    std::uint32_t Read(void* buffer, std::uint32_t capacity);

    // Writes the 10-byte end-of-image frame.
    std::uint32_t SendEndFrame();

    // The serial-number field of the opened instrument's resource descriptor,
    // or an empty text when the descriptor has fewer than four fields.
    std::string SerialNumber() const;

    // True once a write was refused because the library reports the
    // instrument gone; nothing written after that can reach it.
    bool ConnectionLost() const { return connectionLost_; }

    // Unloads the library; afterwards Write and Read return 0. When another
    // holder keeps the library loaded, unloading releases nothing: the
    // sessions are then closed first.
    void Close();

    // Whether another holder keeps the library loaded while this connection
    // is open (false by default).
    void SetLibraryHeldElsewhere(bool held) { libraryHeldElsewhere_ = held; }

    bool IsOpen() const;

    // Why the last Open found nothing, for developers (tests, logs): empty
    // after a successful Open.
    const std::string& Diagnostic() const { return diagnostic_; }

private:
    // Forgets what the last open found or failed at, then binds the library.
    bool StartOpen();
    bool Bind();
    void Unbind();
    bool OpenResourceManager();
    // Closes the resource manager after a failed open and unloads the library.
    void AbandonOpen();
    // Opens the instrument at descriptor_ with no lock and the 10-second timeout.
    void OpenInstrument();
    std::vector<FoundInstrument> SearchPattern(const char* pattern);
    std::string Implementation();

    Clock& clock_;
    std::string libraryName_;
    DynamicLibrary library_;

    std::uint32_t foundCount_ = 0;
    std::uint32_t timeout_ = 10000;
    enum class State { Closed, Open };
    State state_ = State::Closed;
    visa::ViSession resourceManager_ = visa::VI_NULL;
    visa::ViSession instrument_ = visa::VI_NULL;
    char descriptor_[visa::VI_FIND_BUFLEN] = {};
    std::chrono::microseconds writePauseEnd_{0};
    std::string diagnostic_;
    OpenFailure failure_ = OpenFailure::None;
    bool connectionLost_ = false;
    bool libraryHeldElsewhere_ = false;

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
