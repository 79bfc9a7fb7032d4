// The USB library's one backend and its call lock.
#include "usb/usb_backend.h"

#include <mutex>

namespace {

std::mutex callMutex;

}  // namespace

namespace usbtmc {

UsbBackend& TheUsbBackend()
{
    static UsbBackend backend;
    return backend;
}

UnlockedTransfer::UnlockedTransfer()
{
    callMutex.unlock();
}

UnlockedTransfer::~UnlockedTransfer()
{
    callMutex.lock();
}

}  // namespace usbtmc

namespace visa_surface {

const char* const kLibraryFileName = VISA_LIBRARY_FILE;

VisaBackend& TheBackend()
{
    return usbtmc::TheUsbBackend();
}

CallGuard::CallGuard()
{
    callMutex.lock();
}

CallGuard::CallGuard(LockOnly)
{
    callMutex.lock();
}

CallGuard::~CallGuard()
{
    callMutex.unlock();
}

}  // namespace visa_surface
