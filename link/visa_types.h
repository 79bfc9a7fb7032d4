// The part of the VISA C interface that MeterLoad and the simulated instrument
// use, declared from the published VISA standard. Functions use the standard
// calling convention on 32-bit Windows; the variadic viQueryf uses cdecl.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define METERLOAD_VI_FUNC __stdcall
#define METERLOAD_VI_FUNCC __cdecl
#else
#define METERLOAD_VI_FUNC
#define METERLOAD_VI_FUNCC
#endif

namespace visa {

using ViUInt32 = std::uint32_t;
using ViInt32 = std::int32_t;
using ViUInt16 = std::uint16_t;
using ViInt16 = std::int16_t;
using ViChar = char;
using ViByte = unsigned char;
using ViStatus = ViInt32;
using ViObject = ViUInt32;
using ViSession = ViObject;
using ViFindList = ViObject;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
using ViEventType = ViUInt32;
using ViUInt16Ptr = ViUInt16*;
#if defined(_WIN64) || (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 8)
using ViAttrState = std::uint64_t;
#else
using ViAttrState = ViUInt32;
#endif

constexpr ViStatus VI_SUCCESS = 0;
constexpr ViSession VI_NULL = 0;
constexpr ViUInt32 VI_NO_LOCK = 0;
constexpr ViUInt32 VI_FIND_BUFLEN = 256;

constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001AUL;

// Completion codes (warnings and successes other than VI_SUCCESS).
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005L;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006L;

// Error codes: the sign bit is set.
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000UL);
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000EUL);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011UL);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012UL);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015UL);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001DUL);
constexpr ViStatus VI_ERROR_INV_EXPR = static_cast<ViStatus>(0xBFFF0010UL);
constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003EUL);
constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6UL);
constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = static_cast<ViStatus>(0xBFFF009EUL);

// The nine functions MeterLoad binds, as pointer types.
using ViOpenDefaultRMFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession* rm);
using ViFindRsrcFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession rm, const ViChar* expr, ViFindList* list, ViUInt32* count,
                                                  ViChar* description);
using ViCloseFn = ViStatus(METERLOAD_VI_FUNC*)(ViObject object);
using ViOpenFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession rm, const ViChar* name, ViAccessMode mode, ViUInt32 timeout,
                                              ViSession* vi);
using ViFindNextFn = ViStatus(METERLOAD_VI_FUNC*)(ViFindList list, ViChar* description);
using ViQueryfFn = ViStatus(METERLOAD_VI_FUNCC*)(ViSession vi, const ViChar* writeFormat, const ViChar* readFormat,
                                                 ...);
using ViWriteFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession vi, const ViByte* buffer, ViUInt32 count, ViUInt32* returned);
using ViReadFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession vi, ViByte* buffer, ViUInt32 count, ViUInt32* returned);
using ViSetAttributeFn = ViStatus(METERLOAD_VI_FUNC*)(ViObject vi, ViAttr attribute, ViAttrState value);

}  // namespace visa
