// Closing a procedure's connection: unloads the VISA library, then destroys
// the connection, so that the next procedure can open its own.
#pragma once

#include "link/instrument_connection.h"

#include <memory>

namespace meterload {

inline void CloseAndDestroy(std::unique_ptr<InstrumentConnection>& connection)
{
    if (connection) {
        connection->Close();
        connection.reset();
    }
}

}  // namespace meterload
