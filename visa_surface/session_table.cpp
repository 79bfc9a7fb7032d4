#include "visa_surface/session_table.h"

namespace visa_surface {

ViObject SessionTable::Add(const Session& session)
{
    const ViObject handle = nextHandle_++;
    sessions_[handle] = session;
    return handle;
}

Session* SessionTable::Find(ViObject handle)
{
    const auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : &it->second;
}

Session* SessionTable::Find(ViObject handle, Session::Kind kind)
{
    Session* session = Find(handle);
    return session != nullptr && session->kind == kind ? session : nullptr;
}

bool SessionTable::Close(ViObject handle, const std::function<void(const Session&)>& closing)
{
    const auto it = sessions_.find(handle);
    if (it == sessions_.end()) {
        return false;
    }
    if (it->second.kind == Session::Kind::ResourceManager) {
        for (auto child = sessions_.begin(); child != sessions_.end();) {
            if (child->second.owner != handle) {
                ++child;
                continue;
            }
            closing(child->second);
            child = sessions_.erase(child);
        }
    }
    closing(it->second);
    sessions_.erase(handle);
    return true;
}

void SessionTable::LoseInstrument(std::size_t instrument)
{
    for (auto& entry : sessions_) {
        if (entry.second.kind == Session::Kind::Instrument && entry.second.instrument == instrument) {
            entry.second.lost = true;
        }
    }
}

}  // namespace visa_surface
