// The exported per-session VISA functions: each finds the backend that serves
// the session (ours, or a VISA library loaded at run time, chosen when the
// session was opened) and calls through it with the handle that backend
// knows. Resource managers and find lists are always ours.

#include "visa/visa.h"
#include "visa/visa_internal.h"

#include "visa/backend.h"
#include "visa/session_table.h"

#include <memory>

using quarvel::visa::Backend;

namespace {

struct Route {
    const Backend* backend;
    ViSession handle;
    // Keeps a loaded library's session open until the call returns, also
    // when another thread closes it meanwhile.
    std::shared_ptr<quarvel::visa::ForwardedSession> hold;
};

Route RouteOf(ViObject vi) {
    if (auto forwarded = quarvel::visa::Table().FindForwarded(vi)) {
        const ViSession handle = forwarded->handle;
        return {&forwarded->link->Library().SessionCalls(), handle, std::move(forwarded)};
    }
    return {&quarvel::visa::BuiltinBackend(), vi, nullptr};
}

template <auto Function, typename... Args> ViStatus Dispatch(ViObject vi, Args... args) {
    const Route route = RouteOf(vi);
    return (route.backend->*Function)(route.handle, args...);
}

} // namespace

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return Dispatch<&Backend::read>(vi, buf, cnt, retCnt);
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return Dispatch<&Backend::write>(vi, buf, cnt, retCnt);
}

ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return Dispatch<&Backend::bufRead>(vi, buf, cnt, retCnt);
}

ViStatus viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    return Dispatch<&Backend::bufWrite>(vi, buf, cnt, retCnt);
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    return Dispatch<&Backend::setBuf>(vi, mask, size);
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    return Dispatch<&Backend::flush>(vi, mask);
}

ViStatus viClear(ViSession vi) {
    return Dispatch<&Backend::clear>(vi);
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
    return Dispatch<&Backend::readSTB>(vi, status);
}

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[]) {
    return Dispatch<&Backend::lock>(vi, lockType, timeout, requestedKey, accessKey);
}

ViStatus viUnlock(ViSession vi) {
    return Dispatch<&Backend::unlock>(vi);
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    return Dispatch<&Backend::getAttribute>(vi, attrName, attrValue);
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    return Dispatch<&Backend::setAttribute>(vi, attrName, attrValue);
}

ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]) {
    return Dispatch<&Backend::statusDesc>(vi, status, desc);
}

ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                       ViEventFilter context) {
    return Dispatch<&Backend::enableEvent>(vi, eventType, mechanism, context);
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    return Dispatch<&Backend::disableEvent>(vi, eventType, mechanism);
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    return Dispatch<&Backend::discardEvents>(vi, eventType, mechanism);
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                       ViEventType* outEventType, ViEvent* outContext) {
    return Dispatch<&Backend::waitOnEvent>(vi, inEventType, timeout, outEventType, outContext);
}

ViStatus qviSetProgressHandler(ViSession vi, QviProgressHandler handler, ViAddr userData) {
    return Dispatch<&Backend::setProgressHandler>(vi, handler, userData);
}

ViStatus qviGetProgressHandler(ViSession vi, QviProgressHandler* handler, ViAddr* userData) {
    return Dispatch<&Backend::getProgressHandler>(vi, handler, userData);
}

ViStatus qviEndOfReplyData(ViSession vi) {
    return Dispatch<&Backend::endOfReplyData>(vi);
}

ViStatus qviExpectReplyData(ViSession vi, ViUInt64 remaining) {
    return Dispatch<&Backend::expectReplyData>(vi, remaining);
}

// Formatted I/O: the variadic forms are made here once, and every backend is
// called through its va_list form.

ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, va_list params) {
    return Dispatch<&Backend::vPrintf>(vi, writeFmt, params);
}

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...) {
    va_list params;
    va_start(params, writeFmt);
    const ViStatus s = viVPrintf(vi, writeFmt, params);
    va_end(params);
    return s;
}

ViStatus viVScanf(ViSession vi, ViConstString readFmt, va_list params) {
    return Dispatch<&Backend::vScanf>(vi, readFmt, params);
}

ViStatus viScanf(ViSession vi, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus s = viVScanf(vi, readFmt, params);
    va_end(params);
    return s;
}

ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params) {
    return Dispatch<&Backend::vQueryf>(vi, writeFmt, readFmt, params);
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus s = viVQueryf(vi, writeFmt, readFmt, params);
    va_end(params);
    return s;
}

ViStatus viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, va_list params) {
    return Dispatch<&Backend::vSPrintf>(vi, buf, writeFmt, params);
}

ViStatus viSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ...) {
    va_list params;
    va_start(params, writeFmt);
    const ViStatus s = viVSPrintf(vi, buf, writeFmt, params);
    va_end(params);
    return s;
}

ViStatus viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, va_list params) {
    return Dispatch<&Backend::vSScanf>(vi, buf, readFmt, params);
}

ViStatus viSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ...) {
    va_list params;
    va_start(params, readFmt);
    const ViStatus s = viVSScanf(vi, buf, readFmt, params);
    va_end(params);
    return s;
}
