#include "visa/backend.h"

namespace quarvel::visa {

const Backend& BuiltinBackend() {
    static constexpr Backend kBuiltin = {
        .read = &builtin::viRead,
        .write = &builtin::viWrite,
        .bufRead = &builtin::viBufRead,
        .bufWrite = &builtin::viBufWrite,
        .setBuf = &builtin::viSetBuf,
        .flush = &builtin::viFlush,
        .clear = &builtin::viClear,
        .readSTB = &builtin::viReadSTB,
        .lock = &builtin::viLock,
        .unlock = &builtin::viUnlock,
        .vPrintf = &builtin::viVPrintf,
        .vScanf = &builtin::viVScanf,
        .vQueryf = &builtin::viVQueryf,
        .vSPrintf = &builtin::viVSPrintf,
        .vSScanf = &builtin::viVSScanf,
        .getAttribute = &builtin::viGetAttribute,
        .setAttribute = &builtin::viSetAttribute,
        .statusDesc = &builtin::viStatusDesc,
        .enableEvent = &builtin::viEnableEvent,
        .disableEvent = &builtin::viDisableEvent,
        .discardEvents = &builtin::viDiscardEvents,
        .waitOnEvent = &builtin::viWaitOnEvent,
        .setProgressHandler = &builtin::qviSetProgressHandler,
        .getProgressHandler = &builtin::qviGetProgressHandler,
        .endOfReplyData = &builtin::qviEndOfReplyData,
        .expectReplyData = &builtin::qviExpectReplyData,
    };
    return kBuiltin;
}

} // namespace quarvel::visa
