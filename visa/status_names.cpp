// Names and descriptions of the VISA statuses, for messages at the user's end.

#include "visa/visa.h"

#include "visa/backend.h"

#include <cstdio>

namespace {

struct StatusRow {
    ViStatus status;
    const char* name;
    const char* description;
};

constexpr StatusRow kStatuses[] = {
    {VI_SUCCESS, "VI_SUCCESS", "Operation completed successfully."},
    {VI_SUCCESS_EVENT_DIS, "VI_SUCCESS_EVENT_DIS", "The event was already disabled."},
    {VI_SUCCESS_QUEUE_EMPTY, "VI_SUCCESS_QUEUE_EMPTY", "No event was queued."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR", "The termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT",
     "The number of bytes read is equal to the input count."},
    {VI_SUCCESS_NESTED_EXCLUSIVE, "VI_SUCCESS_NESTED_EXCLUSIVE",
     "The lock was taken again by the session that holds it."},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT", "The object reference is VI_NULL."},
    {VI_WARN_NSUP_ATTR_STATE, "VI_WARN_NSUP_ATTR_STATE", "The attribute value is not supported."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR", "Unknown system error."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT", "The given session reference is invalid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED", "The resource is locked."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR", "Invalid expression specified for search."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND",
     "The resource was not found or does not answer."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME", "Invalid resource reference specified."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE", "Invalid access mode."},
    {VI_ERROR_TMO, "VI_ERROR_TMO", "Timeout expired before operation completed."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR", "The attribute is not supported."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE", "The attribute value is not supported."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY", "The attribute is read-only."},
    {VI_ERROR_INV_LOCK_TYPE, "VI_ERROR_INV_LOCK_TYPE", "The lock type is invalid."},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT", "The operation was aborted."},
    {VI_ERROR_INV_SETUP, "VI_ERROR_INV_SETUP", "Invalid setup."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC", "Insufficient system resources."},
    {VI_ERROR_IO, "VI_ERROR_IO", "An error occurred during transfer."},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT", "The format is invalid or the data does not match it."},
    {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT", "The format is not supported."},
    {VI_ERROR_INV_MASK, "VI_ERROR_INV_MASK", "The mask is invalid."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER", "The operation is not supported."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY",
     "The resource is valid, but VISA cannot currently access it."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF", "The user buffer is not valid."},

    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER", "A parameter is invalid."},
    {VI_ERROR_SESN_NLOCKED, "VI_ERROR_SESN_NLOCKED", "The session holds no lock."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND",
     "A VISA library needed for this resource is not named or cannot be loaded."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST", "The connection was lost."},
    {QVI_ERROR_NO_PERMISSION, "QVI_ERROR_NO_PERMISSION",
     "No permission for the USB device: install Quarvel's udev rules "
     "(60-quarvel-usbtmc.rules) and plug the instrument in again."},
};

const StatusRow* Find(ViStatus status) {
    for (const StatusRow& row : kStatuses)
        if (row.status == status)
            return &row;
    return nullptr;
}

} // namespace

const char* qviStatusName(ViStatus status) {
    const StatusRow* row = Find(status);
    return row ? row->name : "unknown status";
}

namespace quarvel::visa::builtin {

ViStatus viStatusDesc(ViObject /*vi*/, ViStatus status, ViChar desc[]) {
    if (desc == nullptr)
        return VI_ERROR_INV_PARAMETER;
    const StatusRow* row = Find(status);
    if (row)
        std::snprintf(desc, 256, "%s: %s", row->name, row->description);
    else
        std::snprintf(desc, 256, "Unknown status 0x%08X.", static_cast<unsigned>(status));
    return VI_SUCCESS;
}

} // namespace quarvel::visa::builtin
