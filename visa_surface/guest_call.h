// A library of ours is a guest in its host program: whatever goes wrong
// inside an exported function (memory running out, a broken invariant) comes
// back as a VISA status, never as a C++ exception through the host's frames.
#pragma once

#include "visa_surface/visa_constants.h"

namespace visa_surface {

template <typename Body>
ViStatus GuestCall(Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

}  // namespace visa_surface
