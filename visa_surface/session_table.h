// The handles the library gives out: resource-manager sessions, instrument
// sessions and find lists, each instrument session and find list belonging to
// one resource manager.
#pragma once

#include "visa_surface/visa_constants.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace visa_surface {

struct Session {
    enum class Kind { ResourceManager, Instrument, FindList };
    Kind kind = Kind::ResourceManager;
    ViSession owner = VI_NULL;  // the resource manager, for the other kinds
    // Instruments:
    std::size_t instrument = 0;
    unsigned board = 0;  // the board its name gives (VISA's number, not a USB bus)
    bool lost = false;   // its instrument left the bus; reconnecting does not revive it
    std::string name;
    ViUInt32 timeoutMs = kDefaultTimeoutMs;
    std::map<ViAttr, ViAttrState> attributes;  // accepted but without effect
    // Find lists:
    std::vector<std::string> found;
    std::size_t next = 0;
};

class SessionTable {
public:
    ViObject Add(const Session& session);
    // Null for unknown handles.
    Session* Find(ViObject handle);
    Session* Find(ViObject handle, Session::Kind kind);
    // Closing a resource manager closes what belongs to it; `closing` sees
    // each session before it goes. False when unknown.
    bool Close(ViObject handle, const std::function<void(const Session&)>& closing);
    // Every open session of `instrument` loses its connection.
    void LoseInstrument(std::size_t instrument);
    void Clear() { sessions_.clear(); }

private:
    std::map<ViObject, Session> sessions_;
    ViObject nextHandle_ = 1;
};

}  // namespace visa_surface
