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

}  // namespace visa_surface
