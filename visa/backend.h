#pragma once

// A VISA backend: the per-session entry points of one VISA library, with the
// standard signatures. Every instrument session is served by one backend,
// chosen when it is opened: this layer's own (BuiltinBackend) or that of a
// VISA library loaded at run time (visa_library.h). The exported vi…
// functions (visa_dispatch.cpp) look the session up and call through its
// backend, so callers use one interface whichever library serves them.

#include "visa/visa.h"
#include "visa/visa_internal.h"

namespace quarvel::visa {

struct Backend {
    ViStatus (*read)(ViSession, ViPBuf, ViUInt32, ViPUInt32);
    ViStatus (*write)(ViSession, ViConstBuf, ViUInt32, ViPUInt32);
    ViStatus (*bufRead)(ViSession, ViPBuf, ViUInt32, ViPUInt32);
    ViStatus (*bufWrite)(ViSession, ViConstBuf, ViUInt32, ViPUInt32);
    ViStatus (*setBuf)(ViSession, ViUInt16, ViUInt32);
    ViStatus (*flush)(ViSession, ViUInt16);
    ViStatus (*clear)(ViSession);
    ViStatus (*readSTB)(ViSession, ViPUInt16);
    ViStatus (*lock)(ViSession, ViAccessMode, ViUInt32, ViConstKeyId, ViChar*);
    ViStatus (*unlock)(ViSession);
    // Formatted I/O through the va_list forms, which every VISA library has.
    ViStatus (*vPrintf)(ViSession, ViConstString, va_list);
    ViStatus (*vScanf)(ViSession, ViConstString, va_list);
    ViStatus (*vQueryf)(ViSession, ViConstString, ViConstString, va_list);
    ViStatus (*vSPrintf)(ViSession, ViPBuf, ViConstString, va_list);
    ViStatus (*vSScanf)(ViSession, ViConstBuf, ViConstString, va_list);
    ViStatus (*getAttribute)(ViObject, ViAttr, void*);
    ViStatus (*setAttribute)(ViObject, ViAttr, ViAttrState);
    ViStatus (*statusDesc)(ViObject, ViStatus, ViChar*);
    ViStatus (*enableEvent)(ViSession, ViEventType, ViUInt16, ViEventFilter);
    ViStatus (*disableEvent)(ViSession, ViEventType, ViUInt16);
    ViStatus (*discardEvents)(ViSession, ViEventType, ViUInt16);
    ViStatus (*waitOnEvent)(ViSession, ViEventType, ViUInt32, ViEventType*, ViEvent*);
    // Quarvel's own extensions; null for other libraries.
    ViStatus (*setProgressHandler)(ViSession, QviProgressHandler, ViAddr);
    ViStatus (*getProgressHandler)(ViSession, QviProgressHandler*, ViAddr*);
    ViStatus (*endOfReplyData)(ViSession);
    ViStatus (*expectReplyData)(ViSession, ViUInt64);
};

// This layer's own transports, formatted I/O and attributes.
const Backend& BuiltinBackend();

// The implementations behind BuiltinBackend, under the standard names.
namespace builtin {
ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
ViStatus viFlush(ViSession vi, ViUInt16 mask);
ViStatus viClear(ViSession vi);
ViStatus viReadSTB(ViSession vi, ViPUInt16 status);
ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[]);
ViStatus viUnlock(ViSession vi);
ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, va_list params);
ViStatus viVScanf(ViSession vi, ViConstString readFmt, va_list params);
ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params);
ViStatus viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, va_list params);
ViStatus viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, va_list params);
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                       ViEventFilter context);
ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                       ViEventType* outEventType, ViEvent* outContext);
ViStatus qviSetProgressHandler(ViSession vi, QviProgressHandler handler, ViAddr userData);
ViStatus qviGetProgressHandler(ViSession vi, QviProgressHandler* handler, ViAddr* userData);
ViStatus qviEndOfReplyData(ViSession vi);
ViStatus qviExpectReplyData(ViSession vi, ViUInt64 remaining);
} // namespace builtin

} // namespace quarvel::visa
