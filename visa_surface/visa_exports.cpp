// The nine VISA functions MeterLoad binds. A variant of the library built
// with VISA_WITHOUT_<name> leaves that one out.
#include "visa_surface/export_macros.h"
#include "visa_surface/formatted_io.h"
#include "visa_surface/guest_call.h"
#include "visa_surface/resource_expression.h"
#include "visa_surface/visa_backend.h"

#include <cstdarg>
#include <cstring>

using namespace visa_surface;  // NOLINT: this file only forwards to the backend

namespace {

void CopyDescriptor(const std::string& name, ViChar* description)
{
    const std::size_t length = std::min<std::size_t>(name.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(description, name.data(), length);
    description[length] = 0;
}

}  // namespace

#ifndef VISA_WITHOUT_viOpenDefaultRM
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viOpenDefaultRM(ViSession* rm)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        ViStatus status = VI_SUCCESS;
        ViSession session = VI_NULL;
        if (rm == nullptr) {
            status = VI_ERROR_USER_BUF;
        } else if ((status = backend.ResourceManagerStatus()) != VI_SUCCESS) {
            *rm = VI_NULL;
        } else {
            session = backend.Sessions().Add(Session{});
            *rm = session;
        }
        backend.Record(EventLine("viOpenDefaultRM").AddStatus(status).Add("rm", session));
        return status;
    });
}
#endif

#ifndef VISA_WITHOUT_viFindRsrc
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viFindRsrc(ViSession rm, const ViChar* expr, ViFindList* list, ViUInt32* count,
                                                  ViChar* description)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        EventLine line("viFindRsrc");
        line.Add("rm", rm).Add("expr", expr != nullptr ? expr : "(null)");
        if (list != nullptr) {
            *list = VI_NULL;
        }
        if (count != nullptr) {
            *count = 0;
        }
        ViStatus status = VI_SUCCESS;
        std::vector<std::string> found;
        ViFindList handle = VI_NULL;
        std::unique_ptr<ResourceExpression> expression;
        if (backend.Sessions().Find(rm, Session::Kind::ResourceManager) == nullptr) {
            status = VI_ERROR_INV_OBJECT;
        } else if (expr == nullptr) {
            status = VI_ERROR_INV_EXPR;
        } else if (!(expression = ResourceExpression::Parse(expr))) {
            status = VI_ERROR_INV_EXPR;
        } else {
            for (const std::string& name : backend.ResourceNames()) {
                if (expression->Matches(name)) {
                    found.push_back(name);
                }
            }
            if (found.empty()) {
                status = VI_ERROR_RSRC_NFOUND;
            } else {
                if (count != nullptr) {
                    *count = static_cast<ViUInt32>(found.size());
                }
                if (description != nullptr) {
                    CopyDescriptor(found.front(), description);
                }
                if (list != nullptr) {
                    Session session;
                    session.kind = Session::Kind::FindList;
                    session.owner = rm;
                    session.found = found;
                    session.next = 1;
                    handle = backend.Sessions().Add(session);
                    *list = handle;
                }
            }
        }
        line.AddStatus(status).Add("list", handle).Add("count", found.size());
        line.Add("desc", found.empty() ? "" : found.front());
        backend.Record(line);
        return status;
    });
}
#endif

#ifndef VISA_WITHOUT_viFindNext
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viFindNext(ViFindList list, ViChar* description)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        Session* session = backend.Sessions().Find(list, Session::Kind::FindList);
        ViStatus status = VI_SUCCESS;
        std::string name;
        if (session == nullptr) {
            status = VI_ERROR_INV_OBJECT;
        } else if (description == nullptr) {
            status = VI_ERROR_USER_BUF;
        } else if (session->next >= session->found.size()) {
            status = VI_ERROR_RSRC_NFOUND;
            description[0] = 0;
        } else {
            name = session->found[session->next++];
            CopyDescriptor(name, description);
        }
        backend.Record(EventLine("viFindNext").Add("list", list).AddStatus(status).Add("desc", name));
        return status;
    });
}
#endif

#ifndef VISA_WITHOUT_viOpen
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viOpen(ViSession rm, const ViChar* name, ViAccessMode mode, ViUInt32 timeout,
                                              ViSession* vi)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        ViStatus status = VI_SUCCESS;
        ViSession handle = VI_NULL;
        if (vi != nullptr) {
            *vi = VI_NULL;
        }
        if (backend.Sessions().Find(rm, Session::Kind::ResourceManager) == nullptr) {
            status = VI_ERROR_INV_OBJECT;
        } else if (vi == nullptr) {
            status = VI_ERROR_USER_BUF;
        } else if (name == nullptr) {
            status = VI_ERROR_INV_RSRC_NAME;
        } else if (mode > 7) {
            status = VI_ERROR_INV_ACC_MODE;
        } else if (const auto parsed = ParseResourceName(name); !parsed) {
            status = VI_ERROR_INV_RSRC_NAME;
        } else {
            Session session;
            session.kind = Session::Kind::Instrument;
            session.owner = rm;
            status = backend.OpenInstrument(*parsed, session);
            if (status == VI_SUCCESS) {
                handle = backend.Sessions().Add(session);
                *vi = handle;
            }
        }
        EventLine line("viOpen");
        line.Add("rm", rm)
            .Add("name", name != nullptr ? name : "(null)")
            .Add("mode", mode)
            .Add("timeout", timeout)
            .AddStatus(status)
            .Add("vi", handle);
        backend.Record(backend.AddSerial(line, handle));
        return status;
    });
}
#endif

#ifndef VISA_WITHOUT_viClose
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viClose(ViObject object)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        ViStatus status = VI_SUCCESS;
        EventLine line("viClose");
        line.Add("object", object);
        backend.AddSerial(line, object);  // while the session is still there
        if (object == VI_NULL) {
            status = VI_WARN_NULL_OBJECT;
        } else if (!backend.Close(object)) {
            status = VI_ERROR_INV_OBJECT;
        }
        backend.Record(line.AddStatus(status));
        backend.SaveIfChanged();
        return status;
    });
}
#endif

#ifndef VISA_WITHOUT_viWrite
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viWrite(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        return TheBackend().Write(vi, buffer, count, returned, nullptr);
    });
}
#endif

#ifndef VISA_WITHOUT_viRead
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viRead(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        return TheBackend().Read(vi, buffer, count, returned, nullptr);
    });
}
#endif

#ifndef VISA_WITHOUT_viQueryf
VISA_EXPORT ViStatus METERLOAD_VI_FUNCC viQueryf(ViSession vi, const ViChar* writeFormat, const ViChar* readFormat, ...)
{
    va_list args;
    va_start(args, readFormat);
    const ViStatus result = GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        const ViStatus status = FormattedQuery(vi, writeFormat, readFormat, args);
        EventLine line("viQueryf");
        line.Add("vi", vi);
        TheBackend().Record(TheBackend()
                                .AddSerial(line, vi)
                                .Add("write", writeFormat != nullptr ? writeFormat : "(null)")
                                .Add("read", readFormat != nullptr ? readFormat : "(null)")
                                .AddStatus(status));
        return status;
    });
    va_end(args);
    return result;
}
#endif

#ifndef VISA_WITHOUT_viSetAttribute
VISA_EXPORT ViStatus METERLOAD_VI_FUNC viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value)
{
    return GuestCall([&]() -> ViStatus {
        const CallGuard guard;
        VisaBackend& backend = TheBackend();
        Session* session = backend.Sessions().Find(object);
        ViStatus status = VI_SUCCESS;
        if (session == nullptr) {
            status = VI_ERROR_INV_OBJECT;
        } else if (session->kind == Session::Kind::FindList) {
            status = VI_ERROR_NSUP_ATTR;
        } else if (attribute == VI_ATTR_RSRC_CLASS || attribute == VI_ATTR_RSRC_NAME ||
                   attribute == VI_ATTR_INTF_TYPE || attribute == VI_ATTR_INTF_NUM || attribute == VI_ATTR_MANF_ID ||
                   attribute == VI_ATTR_MODEL_CODE || attribute == VI_ATTR_USB_SERIAL_NUM ||
                   attribute == VI_ATTR_RSRC_IMPL_VERSION || attribute == VI_ATTR_RSRC_SPEC_VERSION ||
                   attribute == VI_ATTR_RSRC_MANF_ID) {
            status = VI_ERROR_ATTR_READONLY;
        } else if (attribute == VI_ATTR_TMO_VALUE) {
            session->timeoutMs = static_cast<ViUInt32>(value);
        } else {
            session->attributes[attribute] = value;
        }
        char attributeText[16];
        std::snprintf(attributeText, sizeof attributeText, "0x%08lX", static_cast<unsigned long>(attribute));
        EventLine line("viSetAttribute");
        line.Add("vi", object);
        backend.Record(backend.AddSerial(line, object)
                           .Add("attr", attributeText)
                           .Add("value", static_cast<std::uint64_t>(value))
                           .AddStatus(status));
        return status;
    });
}
#endif
