// Finding the ZQ6140s through both resource patterns, and opening one of them
// by its serial number: for front ends that serve several instruments.
#include "link/instrument_connection.h"

#include "link/resource_patterns.h"
#include "link/serial_number.h"

#include <algorithm>
#include <cstdio>

namespace meterload {
namespace {

// More than any USB hub holds; a library that keeps answering viFindNext must
// not keep us searching.
constexpr std::uint32_t kMaxInstruments = 256;

// Optional: only asked for the library's own description.
using ViGetAttributeFn = visa::ViStatus(METERLOAD_VI_FUNC*)(visa::ViObject object, visa::ViAttr attribute, void* value);
constexpr visa::ViAttr kAttrManufacturerName = 0xBFFF0174UL;
constexpr visa::ViAttr kAttrImplementationVersion = 0x3FFF0003UL;

bool Contains(const std::vector<FoundInstrument>& found, const std::string& serial)
{
    return std::any_of(found.begin(), found.end(), [&serial](const FoundInstrument& f) { return f.serial == serial; });
}

}  // namespace

bool InstrumentConnection::OpenResourceManager()
{
    const visa::ViStatus status = fn_.openDefaultRM(&resourceManager_);
    if (status < visa::VI_SUCCESS) {
        fn_.close(resourceManager_);
        resourceManager_ = visa::VI_NULL;
        failure_ = OpenFailure::ResourceManager;
        diagnostic_ = "viOpenDefaultRM failed with status " + std::to_string(status);
        return false;
    }
    return true;
}

std::vector<FoundInstrument> InstrumentConnection::SearchPattern(const char* pattern)
{
    std::vector<FoundInstrument> found;
    visa::ViFindList list = visa::VI_NULL;
    visa::ViUInt32 count = 0;
    char descriptor[visa::VI_FIND_BUFLEN] = {};
    if (fn_.findRsrc(resourceManager_, pattern, &list, &count, descriptor) < visa::VI_SUCCESS) {
        return found;
    }
    count = std::min(count, kMaxInstruments);
    for (visa::ViUInt32 i = 0; i < count; ++i) {
        if (i > 0) {
            descriptor[0] = '\0';
            if (fn_.findNext(list, descriptor) < visa::VI_SUCCESS) {
                break;
            }
        }
        // Never trust the library to terminate the buffer.
        descriptor[sizeof descriptor - 1] = '\0';
        found.push_back({descriptor, SerialNumberFromDescriptor(descriptor)});
    }
    fn_.close(list);
    return found;
}

std::string InstrumentConnection::Implementation()
{
    const auto getAttribute = reinterpret_cast<ViGetAttributeFn>(library_.Symbol("viGetAttribute"));
    if (getAttribute == nullptr) {
        return {};
    }
    std::string text;
    char name[visa::VI_FIND_BUFLEN] = {};
    if (getAttribute(resourceManager_, kAttrManufacturerName, name) >= visa::VI_SUCCESS) {
        name[sizeof name - 1] = '\0';
        text = name;
    }
    visa::ViUInt32 version = 0;
    if (getAttribute(resourceManager_, kAttrImplementationVersion, &version) >= visa::VI_SUCCESS) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(version));
        text += (text.empty() ? "" : ", ") + std::string("implementation version ") + hex;
    }
    return text;
}

InstrumentSearch InstrumentConnection::FindAll()
{
    InstrumentSearch search;
    foundCount_ = 0;
    failure_ = OpenFailure::None;
    diagnostic_.clear();
    state_ = State::Closed;
    if (!Bind()) {
        return search;
    }
    search.libraryPath = library_.Path();
    if (!OpenResourceManager()) {
        Unbind();
        return search;
    }
    search.resourceManagerOpened = true;
    search.implementation = Implementation();

    // An instrument that enumerates under both forms of its identifiers is
    // still one instrument.
    for (const char* pattern : kResourcePatterns) {
        for (FoundInstrument& found : SearchPattern(pattern)) {
            if (!Contains(search.instruments, found.serial)) {
                search.instruments.push_back(std::move(found));
            }
        }
    }
    if (search.instruments.empty()) {
        failure_ = OpenFailure::NotFound;
        diagnostic_ = "no ZQ6140 found";
    }
    AbandonOpen();
    return search;
}

void InstrumentConnection::OpenSerial(const std::string& serial)
{
    if (!StartOpen()) {
        return;
    }
    if (!OpenResourceManager()) {
        Unbind();
        return;
    }
    bool found = false;
    for (const char* pattern : kResourcePatterns) {
        for (const FoundInstrument& instrument : SearchPattern(pattern)) {
            if (!found && instrument.serial == serial) {
                instrument.resource.copy(descriptor_, sizeof descriptor_ - 1);
                descriptor_[std::min(instrument.resource.size(), sizeof descriptor_ - 1)] = '\0';
                found = true;
            }
        }
        if (found) {
            break;
        }
    }
    if (!found) {
        failure_ = OpenFailure::NotFound;
        diagnostic_ = "no ZQ6140 with the serial number " + serial;
        AbandonOpen();
        return;
    }
    foundCount_ = 1;
    OpenInstrument();
}

void InstrumentConnection::OpenSelected(const std::string& serial)
{
    if (serial.empty()) {
        Open();
    } else {
        OpenSerial(serial);
    }
}

}  // namespace meterload
