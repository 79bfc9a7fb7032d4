#include "link/instrument_connection.h"

#include "link/resource_patterns.h"
#include "link/serial_number.h"
#include "link/update_link.h"

#include <cstring>

namespace meterload {
namespace {

constexpr std::uint32_t kTimeoutMs = 10000;

}  // namespace

InstrumentConnection::InstrumentConnection(Clock& clock, std::string library)
    : clock_(clock), libraryName_(std::move(library))
{
}

InstrumentConnection::~InstrumentConnection()
{
    // Procedures close their connections themselves; this only makes sure a
    // forgotten one never keeps the library loaded.
    Close();
}

bool InstrumentConnection::Bind()
{
    std::string bound = libraryName_;
    if (!library_.Load(bound)) {
        diagnostic_ = library_.LastError();
        // Only the default name has a second one; a library named by path does not.
        if (libraryName_ != kVisaLibraryName || kVisaLibraryFallbackName == nullptr) {
            failure_ = OpenFailure::LibraryMissing;
            return false;
        }
        bound = kVisaLibraryFallbackName;
        if (!library_.Load(bound)) {
            diagnostic_ += "; " + library_.LastError();
            failure_ = OpenFailure::LibraryMissing;
            return false;
        }
    }

    // Every one of the nine is required, in this order, even those never called.
    struct Binding {
        const char* name;
        void** slot;
    };
    const Binding bindings[] = {
        {"viOpenDefaultRM", reinterpret_cast<void**>(&fn_.openDefaultRM)},
        {"viFindRsrc", reinterpret_cast<void**>(&fn_.findRsrc)},
        {"viClose", reinterpret_cast<void**>(&fn_.close)},
        {"viOpen", reinterpret_cast<void**>(&fn_.open)},
        {"viFindNext", reinterpret_cast<void**>(&fn_.findNext)},
        {"viQueryf", reinterpret_cast<void**>(&fn_.queryf)},
        {"viWrite", reinterpret_cast<void**>(&fn_.write)},
        {"viRead", reinterpret_cast<void**>(&fn_.read)},
        {"viSetAttribute", reinterpret_cast<void**>(&fn_.setAttribute)},
    };
    for (const Binding& binding : bindings) {
        *binding.slot = library_.Symbol(binding.name);
        if (*binding.slot == nullptr) {
            diagnostic_ = bound + " lacks " + binding.name;
            failure_ = OpenFailure::FunctionMissing;
            Unbind();
            return false;
        }
    }
    return true;
}

bool InstrumentConnection::StartOpen()
{
    foundCount_ = 0;
    timeout_ = kTimeoutMs;
    failure_ = OpenFailure::None;
    connectionLost_ = false;
    diagnostic_.clear();
    descriptor_[0] = '\0';

    const bool bound = Bind();
    state_ = State::Closed;
    return bound;
}

void InstrumentConnection::Open()
{
    if (!StartOpen()) {
        return;
    }
    if (!OpenResourceManager()) {
        Unbind();
        return;
    }

    visa::ViStatus status = visa::VI_ERROR_RSRC_NFOUND;
    for (const char* pattern : kResourcePatterns) {
        foundCount_ = 0;
        visa::ViFindList list = visa::VI_NULL;
        status = fn_.findRsrc(resourceManager_, pattern, &list, &foundCount_, descriptor_);
        if (status >= visa::VI_SUCCESS) {
            // The first match is the one opened; the rest of the list is never walked.
            fn_.close(list);
            break;
        }
    }
    // The descriptor buffer is ours; never trust the library to terminate it.
    descriptor_[sizeof descriptor_ - 1] = '\0';
    if (status < visa::VI_SUCCESS || foundCount_ == 0) {
        foundCount_ = 0;
        failure_ = OpenFailure::NotFound;
        diagnostic_ = "no ZQ6140 found (viFindRsrc status " + std::to_string(status) + ")";
        AbandonOpen();
        return;
    }
    OpenInstrument();
}

void InstrumentConnection::OpenInstrument()
{
    // The open's own status is not examined: the reads and writes that follow
    // report a missing instrument soon enough.
    fn_.open(resourceManager_, descriptor_, visa::VI_NO_LOCK, 0, &instrument_);
    fn_.setAttribute(instrument_, visa::VI_ATTR_TMO_VALUE, timeout_);
    state_ = State::Open;
}

void InstrumentConnection::AbandonOpen()
{
    fn_.close(resourceManager_);
    resourceManager_ = visa::VI_NULL;
    Unbind();
}

bool InstrumentConnection::IsOpen() const
{
    return state_ == State::Open && library_.IsLoaded();
}

std::uint32_t InstrumentConnection::Write(const void* bytes, std::uint32_t count)
{
    if (!IsOpen()) {
        return 0;
    }
    visa::ViUInt32 sent = 0;
    const visa::ViStatus status = fn_.write(instrument_, static_cast<const visa::ViByte*>(bytes), count, &sent);
    writePauseEnd_ = clock_.Sleep(kWritePause);
    connectionLost_ = connectionLost_ || status == visa::VI_ERROR_CONN_LOST;
    // Warnings count as failures too: only a plain success means the bytes went out.
    if (status != visa::VI_SUCCESS) {
        return 0;
    }
    return sent;
}

std::uint32_t InstrumentConnection::Read(void* buffer, std::uint32_t capacity)
{
    if (capacity == 0) {
        return 0;
    }
    auto* bytes = static_cast<visa::ViByte*>(buffer);
    bytes[0] = 0;
    if (!IsOpen() || capacity < 2) {
        return 0;
    }
    visa::ViUInt32 received = 0;
    // A timeout simply yields what arrived, usually nothing.
    fn_.read(instrument_, bytes, capacity - 1, &received);
    if (received > capacity - 1) {
        received = capacity - 1;  // a library that over-reports must not make us write past the buffer
    }
    if (received > 0) {
        bytes[received] = 0;
    }
    return received;
}

std::uint32_t InstrumentConnection::SendEndFrame()
{
    return Write(kEndFrame.data(), static_cast<std::uint32_t>(kEndFrame.size()));
}

std::string InstrumentConnection::SerialNumber() const
{
    return SerialNumberFromDescriptor(descriptor_);
}

void InstrumentConnection::Close()
{
    // Unloading the library releases every session it holds, unless
    // another holder keeps it loaded.
    if (IsOpen()) {
        if (libraryHeldElsewhere_) {
            fn_.close(instrument_);
            fn_.close(resourceManager_);
        }
        foundCount_ = 0;
        instrument_ = visa::VI_NULL;
        resourceManager_ = visa::VI_NULL;
        state_ = State::Closed;
        Unbind();
    }
}

void InstrumentConnection::Unbind()
{
    // No pointer into the library may outlive it.
    library_.Unload();
    fn_ = Functions{};
}

}  // namespace meterload
