// VISA codes and attributes that the simulator answers beyond those MeterLoad
// itself uses (link/visa_types.h), with values from the published standard.
#pragma once

#include "link/visa_types.h"

namespace visa_surface {

using namespace visa;  // NOLINT: the VISA names read best unqualified here

constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072UL);
constexpr ViStatus VI_ERROR_INV_ACC_MODE = static_cast<ViStatus>(0xBFFF0013UL);
constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001EUL);
constexpr ViStatus VI_ERROR_ATTR_READONLY = static_cast<ViStatus>(0xBFFF001FUL);
constexpr ViStatus VI_ERROR_INV_FMT = static_cast<ViStatus>(0xBFFF003FUL);
constexpr ViStatus VI_ERROR_NSUP_FMT = static_cast<ViStatus>(0xBFFF0041UL);
constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067UL);
constexpr ViStatus VI_ERROR_USER_BUF = static_cast<ViStatus>(0xBFFF0071UL);
constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078UL);
constexpr ViStatus VI_WARN_UNKNOWN_STATUS = 0x3FFF0085L;
constexpr ViStatus VI_WARN_NULL_OBJECT = 0x3FFF0082L;
constexpr ViStatus VI_SUCCESS_EVENT_DIS = 0x3FFF0003L;
constexpr ViStatus VI_SUCCESS_QUEUE_EMPTY = 0x3FFF0004L;

constexpr ViAttr VI_ATTR_RSRC_CLASS = 0xBFFF0001UL;
constexpr ViAttr VI_ATTR_RSRC_NAME = 0xBFFF0002UL;
constexpr ViAttr VI_ATTR_RSRC_IMPL_VERSION = 0x3FFF0003UL;
constexpr ViAttr VI_ATTR_RSRC_LOCK_STATE = 0x3FFF0004UL;
constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016UL;
constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018UL;
constexpr ViAttr VI_ATTR_IO_PROT = 0x3FFF001CUL;
constexpr ViAttr VI_ATTR_SUPPRESS_END_EN = 0x3FFF0036UL;
constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038UL;
constexpr ViAttr VI_ATTR_MANF_NAME = 0xBFFF0072UL;
constexpr ViAttr VI_ATTR_MODEL_NAME = 0xBFFF0077UL;
constexpr ViAttr VI_ATTR_MANF_ID = 0x3FFF00D9UL;
constexpr ViAttr VI_ATTR_MODEL_CODE = 0x3FFF00DFUL;
constexpr ViAttr VI_ATTR_INTF_INST_NAME = 0xBFFF00E9UL;
constexpr ViAttr VI_ATTR_RSRC_SPEC_VERSION = 0x3FFF0170UL;
constexpr ViAttr VI_ATTR_INTF_TYPE = 0x3FFF0171UL;
constexpr ViAttr VI_ATTR_RSRC_MANF_NAME = 0xBFFF0174UL;
constexpr ViAttr VI_ATTR_RSRC_MANF_ID = 0x3FFF0175UL;
constexpr ViAttr VI_ATTR_INTF_NUM = 0x3FFF0176UL;
constexpr ViAttr VI_ATTR_USB_SERIAL_NUM = 0xBFFF01A0UL;
constexpr ViAttr VI_ATTR_USB_INTFC_NUM = 0x3FFF01A1UL;
constexpr ViAttr VI_ATTR_USB_PROTOCOL = 0x3FFF01A7UL;

constexpr ViUInt16 VI_INTF_USB = 7;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFUL;
constexpr ViUInt32 kDefaultTimeoutMs = 2000;

constexpr ViUInt16 kVendorId = 0x1D47;
constexpr ViUInt16 kProductId = 0x0B62;

}  // namespace visa_surface
