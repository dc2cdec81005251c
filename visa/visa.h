#pragma once

// The VISA functions, types and status values, with the names, signatures,
// sizes and numeric values of the VPP-4.3 standard. Quarvel carries its own
// implementation (one file per transport behind this header), so no vendor
// VISA library is needed. The same functions are exported with C linkage by
// libquarvel-visa.so, which other programs (PyVISA, C programs) load as
// their VISA library; docs/visa.md lists where it differs from the standard.

#include <cstdarg>
#include <cstdint>
#include <type_traits>

// The standard names are the shared library's only exported symbols; every
// other symbol of the library is hidden.
#define QVI_EXPORT __attribute__((visibility("default")))

using ViUInt64 = std::uint64_t;
using ViInt64 = std::int64_t;
using ViUInt32 = std::uint32_t;
using ViInt32 = std::int32_t;
using ViUInt16 = std::uint16_t;
using ViInt16 = std::int16_t;
using ViUInt8 = std::uint8_t;
using ViInt8 = std::int8_t;
using ViChar = char;
using ViByte = unsigned char;
using ViBoolean = ViUInt16;
using ViReal64 = double;

using ViStatus = ViInt32;
using ViObject = ViUInt32;
using ViSession = ViObject;
using ViFindList = ViObject;
using ViAttr = ViUInt32;
// Pointer-sized, as the standard defines it for 32- and 64-bit programs.
using ViAttrState = std::conditional_t<sizeof(void*) == 8, ViUInt64, ViUInt32>;
using ViAccessMode = ViUInt32;
using ViVersion = ViUInt32;
using ViEventType = ViUInt32;
using ViEvent = ViObject;
using ViEventFilter = ViUInt32;

using ViString = ViChar*;
using ViConstString = const ViChar*;
using ViRsrc = ViString;
using ViConstRsrc = ViConstString;
using ViKeyId = ViString;
using ViConstKeyId = ViConstString;
using ViBuf = ViByte*;
using ViConstBuf = const ViByte*;
using ViPBuf = ViByte*;
using ViPSession = ViSession*;
using ViPFindList = ViFindList*;
using ViPUInt32 = ViUInt32*;
using ViPInt32 = ViInt32*;
using ViPUInt16 = ViUInt16*;
using ViAddr = void*;

static_assert(sizeof(ViSession) == 4 && sizeof(ViUInt32) == 4 && sizeof(ViStatus) == 4);
static_assert(std::is_signed_v<ViStatus> && sizeof(ViAttrState) == sizeof(void*));

constexpr ViUInt32 VI_NULL = 0;
constexpr ViBoolean VI_TRUE = 1;
constexpr ViBoolean VI_FALSE = 0;

// The standard revision this library follows (VPP-4.3 5.8).
constexpr ViVersion VI_SPEC_VERSION = 0x00500800;
// Buffer size for descriptions, names and found resources.
constexpr ViUInt32 VI_FIND_BUFLEN = 256;

// Completion codes.
constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_EVENT_DIS = 0x3FFF0003;
constexpr ViStatus VI_SUCCESS_QUEUE_EMPTY = 0x3FFF0004;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViStatus VI_SUCCESS_NESTED_EXCLUSIVE = 0x3FFF009A;
constexpr ViStatus VI_WARN_NULL_OBJECT = 0x3FFF0082;
constexpr ViStatus VI_WARN_NSUP_ATTR_STATE = 0x3FFF0084;

// Error codes.
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000);
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000E);
constexpr ViStatus VI_ERROR_RSRC_LOCKED = static_cast<ViStatus>(0xBFFF000F);
constexpr ViStatus VI_ERROR_INV_EXPR = static_cast<ViStatus>(0xBFFF0010);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012);
constexpr ViStatus VI_ERROR_INV_ACC_MODE = static_cast<ViStatus>(0xBFFF0013);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001D);
constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001E);
constexpr ViStatus VI_ERROR_ATTR_READONLY = static_cast<ViStatus>(0xBFFF001F);
constexpr ViStatus VI_ERROR_INV_LOCK_TYPE = static_cast<ViStatus>(0xBFFF0020);
constexpr ViStatus VI_ERROR_ABORT = static_cast<ViStatus>(0xBFFF0030);
constexpr ViStatus VI_ERROR_INV_SETUP = static_cast<ViStatus>(0xBFFF003A);
constexpr ViStatus VI_ERROR_ALLOC = static_cast<ViStatus>(0xBFFF003C);
constexpr ViStatus VI_ERROR_INV_MASK = static_cast<ViStatus>(0xBFFF003D);
constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003E);
constexpr ViStatus VI_ERROR_INV_FMT = static_cast<ViStatus>(0xBFFF003F);
constexpr ViStatus VI_ERROR_NSUP_FMT = static_cast<ViStatus>(0xBFFF0041);
constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067);
constexpr ViStatus VI_ERROR_USER_BUF = static_cast<ViStatus>(0xBFFF0071);
constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072);
constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078);
constexpr ViStatus VI_ERROR_SESN_NLOCKED = static_cast<ViStatus>(0xBFFF009C);
constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6);

// Attributes. String attributes are read into a ViChar[256].
constexpr ViAttr VI_ATTR_RSRC_CLASS = 0xBFFF0001;        // string
constexpr ViAttr VI_ATTR_RSRC_NAME = 0xBFFF0002;         // string
constexpr ViAttr VI_ATTR_RSRC_IMPL_VERSION = 0x3FFF0003; // ViVersion
constexpr ViAttr VI_ATTR_RSRC_LOCK_STATE = 0x3FFF0004;   // ViAccessMode
constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016;       // ViBoolean
constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018;          // ViUInt8
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;         // ViUInt32, ms
constexpr ViAttr VI_ATTR_IO_PROT = 0x3FFF001C;           // ViUInt16
constexpr ViAttr VI_ATTR_SUPPRESS_END_EN = 0x3FFF0036;   // ViBoolean
constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038;       // ViBoolean
constexpr ViAttr VI_ATTR_RSRC_SPEC_VERSION = 0x3FFF0170; // ViVersion
constexpr ViAttr VI_ATTR_INTF_TYPE = 0x3FFF0171;         // ViUInt16
constexpr ViAttr VI_ATTR_RSRC_MANF_NAME = 0xBFFF0174;    // string
constexpr ViAttr VI_ATTR_RSRC_MANF_ID = 0x3FFF0175;      // ViUInt16
constexpr ViAttr VI_ATTR_INTF_NUM = 0x3FFF0176;          // ViUInt16
constexpr ViAttr VI_ATTR_TCPIP_ADDR = 0xBFFF0195;        // string
constexpr ViAttr VI_ATTR_TCPIP_HOSTNAME = 0xBFFF0196;    // string
constexpr ViAttr VI_ATTR_TCPIP_PORT = 0x3FFF0197;        // ViUInt16 (SOCKET)
constexpr ViAttr VI_ATTR_TCPIP_DEVICE_NAME = 0xBFFF0199; // string (INSTR)
// Quarvel's own: the TCP port of the portmapper that VXI-11 sessions opened
// from this resource manager ask (default 111, or the environment variable
// QUARVEL_PORTMAPPER_PORT). Set on the resource manager session; lets tests
// and the simulator work without root. viGetAttribute writes it as a
// ViUInt16.
constexpr ViAttr QVI_ATTR_PORTMAPPER_PORT = 0x3FFFC001;
// Quarvel's own: the USB/IP servers ("host:port,host:port") whose devices
// USB sessions opened from this resource manager look at, besides those
// named by the QUARVEL_USBIP environment variable. viSetAttribute takes a
// const char* cast to ViAttrState (copied); viGetAttribute writes the text
// into a ViChar[256].
constexpr ViAttr QVI_ATTR_USBIP_SERVERS = 0x3FFFC002;

// Interface types (VI_ATTR_INTF_TYPE, viParseRsrc).
constexpr ViUInt16 VI_INTF_GPIB = 1;
constexpr ViUInt16 VI_INTF_VXI = 2;
constexpr ViUInt16 VI_INTF_ASRL = 4;
constexpr ViUInt16 VI_INTF_TCPIP = 6;
constexpr ViUInt16 VI_INTF_USB = 7;

// VI_ATTR_IO_PROT values.
constexpr ViUInt16 VI_PROT_NORMAL = 1;
constexpr ViUInt16 VI_PROT_4882_STRS = 4;

// viLock types (VI_ATTR_RSRC_LOCK_STATE).
constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViAccessMode VI_EXCLUSIVE_LOCK = 1;
constexpr ViAccessMode VI_SHARED_LOCK = 2;
constexpr ViAccessMode VI_LOAD_CONFIG = 4;

constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;

// viFlush and viSetBuf masks.
constexpr ViUInt16 VI_READ_BUF = 1;
constexpr ViUInt16 VI_WRITE_BUF = 2;
constexpr ViUInt16 VI_READ_BUF_DISCARD = 4;
constexpr ViUInt16 VI_WRITE_BUF_DISCARD = 8;
constexpr ViUInt16 VI_IO_IN_BUF = 16;
constexpr ViUInt16 VI_IO_OUT_BUF = 32;
constexpr ViUInt16 VI_IO_IN_BUF_DISCARD = 64;
constexpr ViUInt16 VI_IO_OUT_BUF_DISCARD = 128;

extern "C" {

QVI_EXPORT ViStatus viOpenDefaultRM(ViPSession vi);
QVI_EXPORT ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                               ViChar desc[]);
QVI_EXPORT ViStatus viFindNext(ViFindList vi, ViChar desc[]);
QVI_EXPORT ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                                ViPUInt16 intfNum);
QVI_EXPORT ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                                  ViPUInt16 intfNum, ViChar rsrcClass[],
                                  ViChar expandedUnaliasedName[], ViChar aliasIfExists[]);
QVI_EXPORT ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                           ViPSession vi);
QVI_EXPORT ViStatus viClose(ViObject vi);
QVI_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
QVI_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
QVI_EXPORT ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
QVI_EXPORT ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout,
                           ViConstKeyId requestedKey, ViChar accessKey[]);
QVI_EXPORT ViStatus viUnlock(ViSession vi);
QVI_EXPORT ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                                  ViEventFilter context);
QVI_EXPORT ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
QVI_EXPORT ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
QVI_EXPORT ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                                  ViEventType* outEventType, ViEvent* outContext);

QVI_EXPORT ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
QVI_EXPORT ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
QVI_EXPORT ViStatus viReadSTB(ViSession vi, ViPUInt16 status);
QVI_EXPORT ViStatus viClear(ViSession vi);

QVI_EXPORT ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
QVI_EXPORT ViStatus viFlush(ViSession vi, ViUInt16 mask);
QVI_EXPORT ViStatus viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
QVI_EXPORT ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);

QVI_EXPORT ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...);
QVI_EXPORT ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, va_list params);
QVI_EXPORT ViStatus viSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ...);
QVI_EXPORT ViStatus viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, va_list params);
QVI_EXPORT ViStatus viScanf(ViSession vi, ViConstString readFmt, ...);
QVI_EXPORT ViStatus viVScanf(ViSession vi, ViConstString readFmt, va_list params);
QVI_EXPORT ViStatus viSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ...);
QVI_EXPORT ViStatus viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, va_list params);
QVI_EXPORT ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
QVI_EXPORT ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt,
                              va_list params);

} // extern "C"

// Quarvel's own (not exported by the shared library): progress of the transfer under way on a
// session, and a way to cancel it. While a handler is set, every read and write of a message calls
// it at least every 50 ms and at least every 64 KiB, also while the instrument has not sent its
// first byte yet. done counts the bytes of the message moved so far; expected is its whole length
// when known (the header of a definite-length block) and QVI_SIZE_UNKNOWN otherwise. Returning
// QVI_PROGRESS_CANCEL ends the call with VI_ERROR_ABORT within half a second;
// the rest of that reply is dropped (the connection is made anew at the next
// call), so the next command gets its own reply. The handler runs on the
// calling thread inside the VISA call and must not call VISA functions on
// the same session. A null handler stops the reports.
constexpr ViUInt64 QVI_SIZE_UNKNOWN = ~ViUInt64{0};
constexpr ViInt32 QVI_PROGRESS_CONTINUE = 0;
constexpr ViInt32 QVI_PROGRESS_CANCEL = 1;
using QviProgressHandler = ViInt32 (*)(ViSession vi, ViUInt64 done, ViUInt64 expected,
                                       ViAddr userData);
ViStatus qviSetProgressHandler(ViSession vi, QviProgressHandler handler, ViAddr userData);

// Quarvel's own (not exported by the shared library): the symbolic name of a
// status ("VI_ERROR_TMO"), or "unknown status" for values this layer does not
// know.
const char* qviStatusName(ViStatus status);
// Quarvel's own (not exported either): the caller has read all the data of
// the current reply by a length of its own (a file without block header that
// states its size), as "%#b" does for a block. Only the reply's terminator may
// be left, and firmware differs there (a line feed, NULs before it, or
// nothing). Over VXI-11 the rest is read with viFlush(VI_READ_BUF) as usual;
// over a raw socket nothing waits for a terminator that may never come: NULs,
// CRs and one line feed at the start of the next reply are dropped instead.
ViStatus qviEndOfReplyData(ViSession vi);
