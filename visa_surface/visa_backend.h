// What stands behind the exported VISA functions: the instruments a library
// reaches (simulated ones, or devices on USB) and how it talks to them. The
// exports keep the sessions, the search, resource names, attributes and the
// transcript; a backend answers for its instruments.
#pragma once

#include "visa_surface/resource_name.h"
#include "visa_surface/session_table.h"
#include "visa_surface/transcript.h"
#include "visa_surface/visa_constants.h"

#include <string>
#include <vector>

namespace visa_surface {

// The file name of this build of the library, for its load event.
extern const char* const kLibraryFileName;

class VisaBackend {
public:
    virtual ~VisaBackend() = default;

    // VI_SUCCESS when a resource manager can be opened.
    virtual ViStatus ResourceManagerStatus() = 0;
    // The names the instruments enumerate under, in search order.
    virtual std::vector<std::string> ResourceNames() = 0;
    // Opens the instrument `name` addresses: fills in the session's
    // instrument, board and name.
    virtual ViStatus OpenInstrument(const ResourceName& name, Session& session) = 0;
    // The session is closing; its instrument is let go.
    virtual void CloseInstrument(const Session& session) = 0;
    // The serial of a session's instrument.
    virtual std::string SerialOf(const Session& session) const = 0;
    // Says who made the library, for VI_ATTR_RSRC_MANF_NAME.
    virtual const char* MakerName() const = 0;

    // viWrite and viRead with their checks and events; `via` names the
    // formatted-I/O call they serve, if any.
    virtual ViStatus Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned,
                           const char* via) = 0;
    virtual ViStatus Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) = 0;
    // A device clear: the instrument drops what the host has not read.
    virtual ViStatus Clear(ViSession vi) = 0;

    virtual void Record(const EventLine& line) = 0;
    // Keeps what must outlive the call, when something changed.
    virtual void SaveIfChanged() {}

    SessionTable& Sessions() { return sessions_; }
    // Closes `handle` and, for a resource manager, what belongs to it,
    // letting each instrument go. False when unknown.
    bool Close(ViObject handle);
    // Adds serial= to an event of a session opened to an instrument, so that
    // one instrument's traffic can be told from the others'.
    EventLine& AddSerial(EventLine& line, ViObject object);
    // The start of a read's or write's event: the session, its serial, the
    // count and the formatted-I/O call it serves, if any.
    EventLine IoEvent(const char* name, ViSession vi, ViUInt32 count, const char* via);

protected:
    SessionTable sessions_;
};

VisaBackend& TheBackend();

// Held by every export for its call: a client's threads take turns in the
// library, each call seeing and leaving it whole. Each library supplies it.
class CallGuard {
public:
    CallGuard();
    // Takes the lock only, for calls that must not touch the instruments.
    struct LockOnly {};
    explicit CallGuard(LockOnly);
    ~CallGuard();
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
};

}  // namespace visa_surface
