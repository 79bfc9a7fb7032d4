// VISA functions beyond the nine MeterLoad binds, for clients such as PyVISA:
// resource parsing, attribute queries, status texts, and the operations that
// are harmless no-ops for this instrument.
#include "visa_surface/export_macros.h"
#include "visa_surface/formatted_io.h"
#include "visa_surface/guest_call.h"
#include "visa_surface/status_text.h"
#include "visa_surface/visa_backend.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace visa_surface;  // NOLINT: this file only forwards to the backend

namespace {

using ViUInt8 = unsigned char;
using ViBoolean = ViUInt16;

void CopyText(const std::string& text, ViChar* target)
{
    const std::size_t length = std::min<std::size_t>(text.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(target, text.data(), length);
    target[length] = 0;
}

std::string AttributeText(ViAttr attribute)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(attribute));
    return text;
}

// Parses `name` for viParseRsrc and viParseRsrcEx and gives its interface,
// recording the call as `function`.
ViStatus ParseForClient(const char* function, ViSession rm, const ViChar* name, ResourceName& parsed,
                        ViUInt16* interfaceType, ViUInt16* interfaceNumber)
{
    ViStatus status = VI_SUCCESS;
    if (TheBackend().Sessions().Find(rm, Session::Kind::ResourceManager) == nullptr) {
        status = VI_ERROR_INV_OBJECT;
    } else if (name == nullptr) {
        status = VI_ERROR_INV_RSRC_NAME;
    } else if (const auto result = ParseResourceName(name); !result) {
        status = VI_ERROR_INV_RSRC_NAME;
    } else {
        parsed = *result;
        if (interfaceType != nullptr) {
            *interfaceType = VI_INTF_USB;
        }
        if (interfaceNumber != nullptr) {
            *interfaceNumber = static_cast<ViUInt16>(parsed.board);
        }
    }
    TheBackend().Record(
        EventLine(function).Add("rm", rm).Add("name", name != nullptr ? name : "(null)").AddStatus(status));
    return status;
}

ViStatus RecordSimple(const char* function, ViObject object, ViStatus status)
{
    EventLine line(function);
    line.Add("vi", object);
    TheBackend().Record(TheBackend().AddSerial(line, object).AddStatus(status));
    return status;
}

ViStatus CheckInstrument(ViObject object)
{
    return TheBackend().Sessions().Find(object, Session::Kind::Instrument) != nullptr ? VI_SUCCESS
                                                                                      : VI_ERROR_INV_OBJECT;
}

// What an unsupported operation gives: a bad handle stays a bad handle.
ViStatus Unsupported(const char* function, ViObject object)
{
    const ViStatus status = TheBackend().Sessions().Find(object) != nullptr ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    return RecordSimple(function, object, status);
}

}  // namespace

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viParseRsrc(ViSession rm, const ViChar* name, ViUInt16* interfaceType,
                                                   ViUInt16* interfaceNumber)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        ResourceName parsed;
        return ParseForClient("viParseRsrc", rm, name, parsed, interfaceType, interfaceNumber);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viParseRsrcEx(ViSession rm, const ViChar* name, ViUInt16* interfaceType,
                                                     ViUInt16* interfaceNumber, ViChar* resourceClass,
                                                     ViChar* expandedName, ViChar* alias)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        ResourceName parsed;
        const ViStatus status = ParseForClient("viParseRsrcEx", rm, name, parsed, interfaceType, interfaceNumber);
        if (status == VI_SUCCESS) {
            if (resourceClass != nullptr) {
                CopyText("INSTR", resourceClass);
            }
            if (expandedName != nullptr) {
                char text[VI_FIND_BUFLEN];
                std::snprintf(text, sizeof text, "USB%u::0x%04X::0x%04X::%s::INSTR", parsed.board,
                              static_cast<unsigned>(parsed.manufacturer), static_cast<unsigned>(parsed.model),
                              parsed.serial.c_str());
                CopyText(text, expandedName);
            }
            if (alias != nullptr) {
                alias[0] = 0;
            }
        }
        return status;
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viGetAttribute(ViObject object, ViAttr attribute, void* value)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        Session* session = backend.Sessions().Find(object);
        ViStatus status = VI_SUCCESS;
        const auto putText = [&](const std::string& text) { CopyText(text, static_cast<ViChar*>(value)); };
        const auto put16 = [&](ViUInt16 number) { *static_cast<ViUInt16*>(value) = number; };
        const auto put32 = [&](ViUInt32 number) { *static_cast<ViUInt32*>(value) = number; };
        if (session == nullptr) {
            status = VI_ERROR_INV_OBJECT;
        } else if (value == nullptr) {
            status = VI_ERROR_USER_BUF;
        } else if (attribute == VI_ATTR_TMO_VALUE && session->kind != Session::Kind::FindList) {
            put32(session->timeoutMs);
        } else if (attribute == VI_ATTR_RSRC_IMPL_VERSION) {
            put32(0x00100000);
        } else if (attribute == VI_ATTR_RSRC_SPEC_VERSION) {
            put32(0x00500800);
        } else if (attribute == VI_ATTR_RSRC_MANF_NAME) {
            putText(backend.MakerName());
        } else if (attribute == VI_ATTR_RSRC_MANF_ID) {
            put16(0x3FFF);
        } else if (attribute == VI_ATTR_RSRC_LOCK_STATE) {
            put32(VI_NO_LOCK);
        } else if (session->kind == Session::Kind::ResourceManager) {
            if (attribute == VI_ATTR_RSRC_NAME) {
                putText("::INSTR0");
            } else if (attribute == VI_ATTR_RSRC_CLASS) {
                putText("");
            } else {
                status = VI_ERROR_NSUP_ATTR;
            }
        } else if (session->kind != Session::Kind::Instrument) {
            status = VI_ERROR_NSUP_ATTR;
        } else {
            const auto stored = session->attributes.find(attribute);
            switch (attribute) {
            case VI_ATTR_RSRC_NAME: putText(session->name); break;
            case VI_ATTR_RSRC_CLASS: putText("INSTR"); break;
            case VI_ATTR_INTF_TYPE: put16(VI_INTF_USB); break;
            case VI_ATTR_INTF_NUM: put16(static_cast<ViUInt16>(session->board)); break;
            case VI_ATTR_INTF_INST_NAME: putText("USB" + std::to_string(session->board)); break;
            case VI_ATTR_MANF_ID: put16(kVendorId); break;
            case VI_ATTR_MODEL_CODE: put16(kProductId); break;
            case VI_ATTR_MANF_NAME: putText("KORVALEN"); break;
            case VI_ATTR_MODEL_NAME: putText("ZQ6140"); break;
            case VI_ATTR_USB_SERIAL_NUM: putText(backend.SerialOf(*session)); break;
            case VI_ATTR_USB_INTFC_NUM: put16(0); break;
            case VI_ATTR_USB_PROTOCOL: put16(1); break;
            case VI_ATTR_TERMCHAR:
                *static_cast<ViUInt8*>(value) = stored != session->attributes.end()
                                                    ? static_cast<ViUInt8>(stored->second)
                                                    : static_cast<ViUInt8>('\n');
                break;
            case VI_ATTR_TERMCHAR_EN:
            case VI_ATTR_SUPPRESS_END_EN:
                put16(stored != session->attributes.end() ? static_cast<ViBoolean>(stored->second != 0) : 0);
                break;
            case VI_ATTR_SEND_END_EN:
                put16(stored != session->attributes.end() ? static_cast<ViBoolean>(stored->second != 0) : 1);
                break;
            case VI_ATTR_IO_PROT: put16(1); break;
            default: status = VI_ERROR_NSUP_ATTR; break;
            }
        }
        EventLine line("viGetAttribute");
        line.Add("vi", object);
        backend.Record(backend.AddSerial(line, object).Add("attr", AttributeText(attribute)).AddStatus(status));
        return status;
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viStatusDesc(ViObject object, ViStatus status, ViChar* description)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)object;
        if (description == nullptr) {
            return VI_ERROR_USER_BUF;
        }
        const char* text = StatusText(status);
        if (text == nullptr) {
            char unknown[64];
            std::snprintf(unknown, sizeof unknown, "Unknown status 0x%08lX.",
                          static_cast<unsigned long>(static_cast<ViUInt32>(status)));
            CopyText(unknown, description);
            return VI_WARN_UNKNOWN_STATUS;
        }
        CopyText(text, description);
        return VI_SUCCESS;
    });
}

// Unlike viQueryf it takes a fixed argument list, so it uses the standard
// calling convention like every other non-variadic function.
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viVQueryf(ViSession vi, const ViChar* writeFormat, const ViChar* readFormat,
                                                 va_list args)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        const ViStatus status = FormattedQuery(vi, writeFormat, readFormat, args);
        return RecordSimple("viVQueryf", vi, status);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viBufWrite(ViSession vi, const ViByte* buffer, ViUInt32 count,
                                                  ViUInt32* returned)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        return TheBackend().Write(vi, buffer, count, returned, "viBufWrite");
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viBufRead(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        return TheBackend().Read(vi, buffer, count, returned, "viBufRead");
    });
}

// The instrument has no buffers of its own beyond the queued reply, which a
// device clear discards as on the real thing.
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viClear(ViSession vi)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        return TheBackend().Clear(vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viFlush(ViSession vi, ViUInt16 mask)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)mask;
        return RecordSimple("viFlush", vi, CheckInstrument(vi));
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)mask;
        (void)size;
        return RecordSimple("viSetBuf", vi, CheckInstrument(vi));
    });
}

// No events are ever raised, so there are none to enable, disable or drop.
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viDisableEvent(ViSession vi, ViEventType event, ViUInt16 mechanism)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)event;
        (void)mechanism;
        const ViStatus status =
            TheBackend().Sessions().Find(vi) != nullptr ? VI_SUCCESS_EVENT_DIS : VI_ERROR_INV_OBJECT;
        return RecordSimple("viDisableEvent", vi, status);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viDiscardEvents(ViSession vi, ViEventType event, ViUInt16 mechanism)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)event;
        (void)mechanism;
        const ViStatus status =
            TheBackend().Sessions().Find(vi) != nullptr ? VI_SUCCESS_QUEUE_EMPTY : VI_ERROR_INV_OBJECT;
        return RecordSimple("viDiscardEvents", vi, status);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viEnableEvent(ViSession vi, ViEventType event, ViUInt16 mechanism,
                                                     ViUInt32 context)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)event;
        (void)mechanism;
        (void)context;
        return Unsupported("viEnableEvent", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viWaitOnEvent(ViSession vi, ViEventType event, ViUInt32 timeout,
                                                     ViEventType* outType, ViObject* outContext)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)event;
        (void)timeout;
        if (outType != nullptr) {
            *outType = 0;
        }
        if (outContext != nullptr) {
            *outContext = VI_NULL;
        }
        return Unsupported("viWaitOnEvent", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viInstallHandler(ViSession vi, ViEventType event, void* handler,
                                                        void* userHandle)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)event;
        (void)handler;
        (void)userHandle;
        return Unsupported("viInstallHandler", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viUninstallHandler(ViSession vi, ViEventType event, void* handler,
                                                          void* userHandle)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)event;
        (void)handler;
        (void)userHandle;
        return Unsupported("viUninstallHandler", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viLock(ViSession vi, ViAccessMode mode, ViUInt32 timeout,
                                              const ViChar* requestedKey, ViChar* accessKey)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)mode;
        (void)timeout;
        (void)requestedKey;
        if (accessKey != nullptr) {
            accessKey[0] = 0;
        }
        return Unsupported("viLock", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viUnlock(ViSession vi)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        return Unsupported("viUnlock", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viReadSTB(ViSession vi, ViUInt16* statusByte)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        if (statusByte != nullptr) {
            *statusByte = 0;
        }
        return Unsupported("viReadSTB", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viAssertTrigger(ViSession vi, ViUInt16 protocol)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)protocol;
        return Unsupported("viAssertTrigger", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)mode;
        return Unsupported("viGpibControlREN", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viTerminate(ViSession vi, ViUInt16 degree, ViUInt32 jobId)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)degree;
        (void)jobId;
        return Unsupported("viTerminate", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viReadAsync(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* jobId)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)buffer;
        (void)count;
        if (jobId != nullptr) {
            *jobId = 0;
        }
        return Unsupported("viReadAsync", vi);
    });
}

VISA_EXPORT ViStatus METERLOAD_VI_FUNC viWriteAsync(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* jobId)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        (void)buffer;
        (void)count;
        if (jobId != nullptr) {
            *jobId = 0;
        }
        return Unsupported("viWriteAsync", vi);
    });
}
