// How the library marks its exports: undecorated names from a DLL, default
// visibility in a shared object built with hidden symbols.
#pragma once

#if defined(_WIN32)
#define VISA_EXPORT extern "C" __declspec(dllexport)
#else
#define VISA_EXPORT extern "C" __attribute__((visibility("default")))
#endif
