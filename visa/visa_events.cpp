// Events: this library raises none (no service requests, triggers or
// asynchronous I/O), so no event can be enabled. Disabling and discarding
// succeed with the standard's "nothing was enabled/queued" completions,
// because programs (PyVISA among them) call them on every session they close.

#include "visa/visa.h"

#include "visa/backend.h"
#include "visa/session_table.h"

using quarvel::visa::Table;

namespace {

bool IsSession(ViSession vi) {
    return Table().FindInstrument(vi) != nullptr || Table().FindManager(vi) != nullptr;
}

} // namespace

namespace quarvel::visa::builtin {

ViStatus viEnableEvent(ViSession vi, ViEventType /*eventType*/, ViUInt16 /*mechanism*/,
                       ViEventFilter /*context*/) {
    return IsSession(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
}

ViStatus viDisableEvent(ViSession vi, ViEventType /*eventType*/, ViUInt16 /*mechanism*/) {
    return IsSession(vi) ? VI_SUCCESS_EVENT_DIS : VI_ERROR_INV_OBJECT;
}

ViStatus viDiscardEvents(ViSession vi, ViEventType /*eventType*/, ViUInt16 /*mechanism*/) {
    return IsSession(vi) ? VI_SUCCESS_QUEUE_EMPTY : VI_ERROR_INV_OBJECT;
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType /*inEventType*/, ViUInt32 /*timeout*/,
                       ViEventType* outEventType, ViEvent* outContext) {
    if (outEventType != nullptr)
        *outEventType = 0;
    if (outContext != nullptr)
        *outContext = VI_NULL;
    return IsSession(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
}

} // namespace quarvel::visa::builtin
