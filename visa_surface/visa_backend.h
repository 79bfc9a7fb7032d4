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

// The contract of every operation, as each export calls it:
//  - Every call comes with the call lock held (CallGuard), and returns with
//    it held. Only Write, Read and Clear may let go of it, and only while
//    they wait on the device (the USB library's UnlockedTransfer); meanwhile
//    other threads' calls run, so those three may not keep a pointer into
//    the session table across the wait: a session may be closed under them.
//    The instrument's own transfers still go one at a time.
//  - Nothing throws to the caller: the exports turn an escaping exception
//    into VI_ERROR_SYSTEM_ERROR (GuestCall), and a backend reports its
//    failures as statuses. Nothing is written to the host's standard output
//    or error, unless the user asks for the library's trace (the USB
//    library's METERLOAD_USBTMC_DEBUG).
//  - Blocking: ResourceManagerStatus, ResourceNames, SerialOf, MakerName,
//    CloseInstrument and Record do not wait on a device. OpenInstrument may
//    wait on the device (the USB library asks its capabilities and clears
//    it: up to seconds for a busy instrument) and holds the lock while it
//    does. Write and Read wait up to the session's timeout per transfer, and
//    after a timeout up to the recovery budget of an abort (seconds, whatever
//    the session's timeout). Clear waits up to the clear's budget.
class VisaBackend {
public:
    virtual ~VisaBackend() = default;

    // VI_SUCCESS when a resource manager can be opened; VI_ERROR_SYSTEM_ERROR
    // when the library's own resources cannot be set up.
    virtual ViStatus ResourceManagerStatus() = 0;
    // The names the instruments enumerate under, in search order; empty
    // when none is reachable (those the user may not open are left out).
    virtual std::vector<std::string> ResourceNames() = 0;
    // Opens the instrument `name` addresses: fills in the session's
    // instrument, board and name. VI_SUCCESS, VI_ERROR_RSRC_NFOUND (none
    // such, or not openable), VI_ERROR_RSRC_BUSY (another program holds it).
    virtual ViStatus OpenInstrument(const ResourceName& name, Session& session) = 0;
    // The session is closing; its instrument is let go. A transfer still
    // running on another thread keeps the device until it ends.
    virtual void CloseInstrument(const Session& session) = 0;
    // The serial of a session's instrument; empty when it has none.
    virtual std::string SerialOf(const Session& session) const = 0;
    // Says who made the library, for VI_ATTR_RSRC_MANF_NAME.
    virtual const char* MakerName() const = 0;

    // viWrite and viRead with their checks and events; `via` names the
    // formatted-I/O call they serve, if any. Both give the bytes moved in
    // `returned` whatever the status, and the bytes a read received are
    // never dropped: Read gives VI_SUCCESS at the end of a message,
    // VI_SUCCESS_MAX_CNT when `count` was reached first (the rest of the
    // message waits for the next read), VI_ERROR_TMO with what arrived in
    // time. Both: VI_ERROR_INV_OBJECT, VI_ERROR_USER_BUF, VI_ERROR_IO (the
    // device refused or answered wrongly; the next exchange works), and
    // VI_ERROR_CONN_LOST on the very call that found the instrument gone,
    // and on every later call of its sessions.
    virtual ViStatus Write(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) = 0;
    virtual ViStatus Read(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned, const char* via) = 0;
    // A device clear: the instrument drops what the host has not read.
    // VI_SUCCESS only when the instrument says the clear finished;
    // VI_ERROR_IO when it refuses or never finishes; VI_ERROR_CONN_LOST.
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
