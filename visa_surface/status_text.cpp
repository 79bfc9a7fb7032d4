#include "visa_surface/status_text.h"

namespace visa_surface {

const char* StatusText(ViStatus status)
{
    struct Entry {
        ViStatus status;
        const char* text;
    };
    static const Entry entries[] = {
        {VI_SUCCESS, "VI_SUCCESS: Operation completed successfully."},
        {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: The specified termination character was read."},
        {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT: The number of bytes read is equal to the input count."},
        {VI_SUCCESS_EVENT_DIS, "VI_SUCCESS_EVENT_DIS: The event was already disabled."},
        {VI_SUCCESS_QUEUE_EMPTY, "VI_SUCCESS_QUEUE_EMPTY: The event queue was empty."},
        {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT: The object reference was VI_NULL."},
        {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS: The status code is not known."},
        {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: Unknown system error."},
        {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: The given session or object reference is invalid."},
        {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: Invalid expression specified for search."},
        {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: Insufficient location information or resource not present."},
        {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: Invalid resource reference specified."},
        {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE: Invalid access mode."},
        {VI_ERROR_TMO, "VI_ERROR_TMO: Timeout expired before operation completed."},
        {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: The specified attribute is not supported."},
        {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE: The attribute state is not supported."},
        {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY: The specified attribute is read-only."},
        {VI_ERROR_IO, "VI_ERROR_IO: Could not perform operation because of I/O error."},
        {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT: Invalid format specifier or data mismatch."},
        {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT: Unsupported format specifier."},
        {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER: The operation is not supported by this resource."},
        {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: A specified user buffer is not valid."},
        {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER: The value of a parameter is invalid."},
        {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: The connection for the given session has been lost."},
        {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND: A code library required by VISA could not be located."},
    };
    for (const Entry& entry : entries) {
        if (entry.status == status) {
            return entry.text;
        }
    }
    return nullptr;
}

}  // namespace visa_surface
