#include "visa_surface/visa_backend.h"

namespace visa_surface {

bool VisaBackend::Close(ViObject handle)
{
    return sessions_.Close(handle, [this](const Session& session) {
        if (session.kind == Session::Kind::Instrument) {
            CloseInstrument(session);
        }
    });
}

EventLine& VisaBackend::AddSerial(EventLine& line, ViObject object)
{
    if (const Session* session = sessions_.Find(object, Session::Kind::Instrument)) {
        line.Add("serial", SerialOf(*session));
    }
    return line;
}

EventLine VisaBackend::IoEvent(const char* name, ViSession vi, ViUInt32 count, const char* via)
{
    EventLine line(name);
    line.Add("vi", vi);
    AddSerial(line, vi).Add("count", count);
    if (via != nullptr) {
        line.Add("via", via);
    }
    return line;
}

}  // namespace visa_surface
