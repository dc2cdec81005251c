#pragma once

// The VISA functions, types and status values, with the names, signatures,
// sizes and numeric values of the VPP-4.3 standard. Quarvel carries its own
// implementation (one file per transport behind this header), so no vendor
// VISA library is needed. The same functions are exported with C linkage by
// libquarvel-visa.so, which other programs (PyVISA, C programs) load as
// their VISA library; docs/visa.md lists where it differs from the standard.
// The header is plain C (typedefs and macros, C linkage for C++), so that C
// programs built against the installed library include it as they are.

#include <stdarg.h>
#include <stdint.h>

// The standard names are the shared library's only exported symbols; every
// other symbol of the library is hidden.
#define QVI_EXPORT __attribute__((visibility("default")))

typedef uint64_t ViUInt64;
typedef int64_t ViInt64;
typedef uint32_t ViUInt32;
typedef int32_t ViInt32;
typedef uint16_t ViUInt16;
typedef int16_t ViInt16;
typedef uint8_t ViUInt8;
typedef int8_t ViInt8;
typedef char ViChar;
typedef unsigned char ViByte;
typedef ViUInt16 ViBoolean;
typedef double ViReal64;

typedef ViInt32 ViStatus;
typedef ViUInt32 ViObject;
typedef ViObject ViSession;
typedef ViObject ViFindList;
typedef ViUInt32 ViAttr;
// Pointer-sized, as the standard defines it for 32- and 64-bit programs.
#if UINTPTR_MAX == UINT64_MAX
typedef ViUInt64 ViAttrState;
#else
typedef ViUInt32 ViAttrState;
#endif
typedef ViUInt32 ViAccessMode;
typedef ViUInt32 ViVersion;
typedef ViUInt32 ViEventType;
typedef ViObject ViEvent;
typedef ViUInt32 ViEventFilter;

typedef ViChar* ViString;
typedef const ViChar* ViConstString;
typedef ViString ViRsrc;
typedef ViConstString ViConstRsrc;
typedef ViString ViKeyId;
typedef ViConstString ViConstKeyId;
typedef ViByte* ViBuf;
typedef const ViByte* ViConstBuf;
typedef ViByte* ViPBuf;
typedef ViSession* ViPSession;
typedef ViFindList* ViPFindList;
typedef ViUInt32* ViPUInt32;
typedef ViInt32* ViPInt32;
typedef ViUInt16* ViPUInt16;
typedef void* ViAddr;

#ifdef __cplusplus
#define QVI_STATIC_ASSERT static_assert
#else
#define QVI_STATIC_ASSERT _Static_assert
#endif
QVI_STATIC_ASSERT(sizeof(ViSession) == 4 && sizeof(ViUInt32) == 4 && sizeof(ViStatus) == 4,
                  "VISA handles and statuses are 32-bit");
QVI_STATIC_ASSERT((ViStatus)-1 < 0 && sizeof(ViAttrState) == sizeof(void*),
                  "ViStatus is signed, ViAttrState pointer-sized");
#undef QVI_STATIC_ASSERT

#define VI_NULL ((ViUInt32)0)
#define VI_TRUE ((ViBoolean)1)
#define VI_FALSE ((ViBoolean)0)

// The standard revision this library follows (VPP-4.3 5.8).
#define VI_SPEC_VERSION ((ViVersion)0x00500800)
// Buffer size for descriptions, names and found resources.
#define VI_FIND_BUFLEN ((ViUInt32)256)

// Completion codes.
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_EVENT_DIS ((ViStatus)0x3FFF0003)
#define VI_SUCCESS_QUEUE_EMPTY ((ViStatus)0x3FFF0004)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006)
#define VI_SUCCESS_NESTED_EXCLUSIVE ((ViStatus)0x3FFF009A)
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082)
#define VI_WARN_NSUP_ATTR_STATE ((ViStatus)0x3FFF0084)

// Error codes.
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000E)
#define VI_ERROR_RSRC_LOCKED ((ViStatus)0xBFFF000F)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012)
#define VI_ERROR_INV_ACC_MODE ((ViStatus)0xBFFF0013)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001D)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001E)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001F)
#define VI_ERROR_INV_LOCK_TYPE ((ViStatus)0xBFFF0020)
#define VI_ERROR_ABORT ((ViStatus)0xBFFF0030)
#define VI_ERROR_INV_SETUP ((ViStatus)0xBFFF003A)
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003C)
#define VI_ERROR_INV_MASK ((ViStatus)0xBFFF003D)
#define VI_ERROR_IO ((ViStatus)0xBFFF003E)
#define VI_ERROR_INV_FMT ((ViStatus)0xBFFF003F)
#define VI_ERROR_NSUP_FMT ((ViStatus)0xBFFF0041)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071)
#define VI_ERROR_RSRC_BUSY ((ViStatus)0xBFFF0072)
#define VI_ERROR_INV_PARAMETER ((ViStatus)0xBFFF0078)
#define VI_ERROR_SESN_NLOCKED ((ViStatus)0xBFFF009C)
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)0xBFFF009E)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6)
// Quarvel's own: the USB instrument is there but this user may not open it
// (the device node's permissions); Quarvel's udev rules give access.
#define QVI_ERROR_NO_PERMISSION ((ViStatus)0xBFFFC001)

// Attributes. String attributes are read into a ViChar[256].
#define VI_ATTR_RSRC_CLASS ((ViAttr)0xBFFF0001)        // string
#define VI_ATTR_RSRC_NAME ((ViAttr)0xBFFF0002)         // string
#define VI_ATTR_RSRC_IMPL_VERSION ((ViAttr)0x3FFF0003) // ViVersion
#define VI_ATTR_RSRC_LOCK_STATE ((ViAttr)0x3FFF0004)   // ViAccessMode
#define VI_ATTR_SEND_END_EN ((ViAttr)0x3FFF0016)       // ViBoolean
#define VI_ATTR_TERMCHAR ((ViAttr)0x3FFF0018)          // ViUInt8
#define VI_ATTR_TMO_VALUE ((ViAttr)0x3FFF001A)         // ViUInt32, ms
#define VI_ATTR_IO_PROT ((ViAttr)0x3FFF001C)           // ViUInt16
#define VI_ATTR_SUPPRESS_END_EN ((ViAttr)0x3FFF0036)   // ViBoolean
#define VI_ATTR_TERMCHAR_EN ((ViAttr)0x3FFF0038)       // ViBoolean
#define VI_ATTR_RSRC_SPEC_VERSION ((ViAttr)0x3FFF0170) // ViVersion
#define VI_ATTR_INTF_TYPE ((ViAttr)0x3FFF0171)         // ViUInt16
#define VI_ATTR_RSRC_MANF_NAME ((ViAttr)0xBFFF0174)    // string
#define VI_ATTR_RSRC_MANF_ID ((ViAttr)0x3FFF0175)      // ViUInt16
#define VI_ATTR_INTF_NUM ((ViAttr)0x3FFF0176)          // ViUInt16
#define VI_ATTR_TCPIP_ADDR ((ViAttr)0xBFFF0195)        // string
#define VI_ATTR_TCPIP_HOSTNAME ((ViAttr)0xBFFF0196)    // string
#define VI_ATTR_TCPIP_PORT ((ViAttr)0x3FFF0197)        // ViUInt16 (SOCKET)
#define VI_ATTR_TCPIP_DEVICE_NAME ((ViAttr)0xBFFF0199) // string (INSTR)
#define VI_ATTR_MANF_ID ((ViAttr)0x3FFF00D9)           // ViUInt16 (USB vendor ID)
#define VI_ATTR_MODEL_CODE ((ViAttr)0x3FFF00DF)        // ViUInt16 (USB product ID)
#define VI_ATTR_USB_SERIAL_NUM ((ViAttr)0xBFFF01A0)    // string
#define VI_ATTR_USB_INTFC_NUM ((ViAttr)0x3FFF01A1)     // ViInt16
#define VI_ATTR_USB_PROTOCOL ((ViAttr)0x3FFF01A7)      // ViInt16 (0 USBTMC, 1 USB488)
#define VI_ATTR_USB_MAX_INTR_SIZE ((ViAttr)0x3FFF01AF) // ViUInt16 (0: no interrupt-IN)
// Quarvel's own: the TCP port of the portmapper that VXI-11 sessions opened
// from this resource manager ask (default 111, or the environment variable
// QUARVEL_PORTMAPPER_PORT). Set on the resource manager session; lets tests
// and the simulator work without root. viGetAttribute writes it as a
// ViUInt16.
#define QVI_ATTR_PORTMAPPER_PORT ((ViAttr)0x3FFFC001)
// Quarvel's own: the USB/IP servers ("host:port,host:port") whose devices
// USB sessions opened from this resource manager look at, besides those
// named by the QUARVEL_USBIP environment variable. viSetAttribute takes a
// const char* cast to ViAttrState (copied); viGetAttribute writes the text
// into a ViChar[256].
#define QVI_ATTR_USBIP_SERVERS ((ViAttr)0x3FFFC002)
// Quarvel's own, for viFindRsrc on this resource manager: the ways it looks
// for instruments, "broadcast,probe,dnssd,usb,library" or any of them
// ("library": what the library given with qviUseVisaLibrary lists; default all;
// the environment variable QUARVEL_DISCOVERY gives a resource manager its
// first value, and a variable with an unknown name leaves none), as a
// const char* cast to ViAttrState; viGetAttribute writes a ViChar[256].
#define QVI_ATTR_DISCOVERY_METHODS ((ViAttr)0x3FFFC010)
// Quarvel's own: the IPv4 hosts a probe asks, "10.0.0.5,192.168.1.0/24,
// 127.0.0.1-127.0.0.9,scope.lab" (at most 4096 hosts; a name is resolved
// when the search runs, within its listening time), besides those in the
// environment variable QUARVEL_PROBE. Text as for QVI_ATTR_USBIP_SERVERS.
#define QVI_ATTR_PROBE_HOSTS ((ViAttr)0x3FFFC011)
// Quarvel's own: how long (ms, ViUInt32, default 1000) broadcast, probe and
// DNS-SD collect answers; VI_ATTR_TMO_VALUE still bounds the whole search.
#define QVI_ATTR_DISCOVERY_TMO ((ViAttr)0x3FFFC012)

// Interface types (VI_ATTR_INTF_TYPE, viParseRsrc).
#define VI_INTF_GPIB ((ViUInt16)1)
#define VI_INTF_VXI ((ViUInt16)2)
#define VI_INTF_ASRL ((ViUInt16)4)
#define VI_INTF_TCPIP ((ViUInt16)6)
#define VI_INTF_USB ((ViUInt16)7)

// VI_ATTR_IO_PROT values.
#define VI_PROT_NORMAL ((ViUInt16)1)
#define VI_PROT_4882_STRS ((ViUInt16)4)

// viLock types (VI_ATTR_RSRC_LOCK_STATE).
#define VI_NO_LOCK ((ViAccessMode)0)
#define VI_EXCLUSIVE_LOCK ((ViAccessMode)1)
#define VI_SHARED_LOCK ((ViAccessMode)2)
#define VI_LOAD_CONFIG ((ViAccessMode)4)

#define VI_TMO_IMMEDIATE ((ViUInt32)0)
#define VI_TMO_INFINITE ((ViUInt32)0xFFFFFFFFU)

// viFlush and viSetBuf masks.
#define VI_READ_BUF ((ViUInt16)1)
#define VI_WRITE_BUF ((ViUInt16)2)
#define VI_READ_BUF_DISCARD ((ViUInt16)4)
#define VI_WRITE_BUF_DISCARD ((ViUInt16)8)
#define VI_IO_IN_BUF ((ViUInt16)16)
#define VI_IO_OUT_BUF ((ViUInt16)32)
#define VI_IO_IN_BUF_DISCARD ((ViUInt16)64)
#define VI_IO_OUT_BUF_DISCARD ((ViUInt16)128)

#ifdef __cplusplus
extern "C" {
#endif

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

#ifdef __cplusplus
} // extern "C"
#endif

// Quarvel's own (not exported by the shared library): progress of the transfer under way on a
// session, and a way to cancel it. While a handler is set, every read and write of a message calls
// it at least every 50 ms and at least every 64 KiB, also while the instrument has not sent its
// first byte yet. done counts the bytes of the message moved so far; expected is its whole length
// when known (the header of a definite-length block) and QVI_SIZE_UNKNOWN otherwise. Returning
// QVI_PROGRESS_CANCEL ends the call with VI_ERROR_ABORT within half a second;
// the rest of that reply is dropped (VXI-11 and SOCKET connect anew at the
// next call, HiSLIP clears the device, USBTMC aborts the transfer), so the
// next command gets its own reply. The handler runs on the
// calling thread inside the VISA call and must not call VISA functions on
// the same session. A null handler stops the reports.
#define QVI_SIZE_UNKNOWN (~(ViUInt64)0)
#define QVI_PROGRESS_CONTINUE ((ViInt32)0)
#define QVI_PROGRESS_CANCEL ((ViInt32)1)
typedef ViInt32 (*QviProgressHandler)(ViSession vi, ViUInt64 done, ViUInt64 expected,
                                      ViAddr userData);
ViStatus qviSetProgressHandler(ViSession vi, QviProgressHandler handler, ViAddr userData);
// The handler and user data set on vi (null when none), so a caller can step
// around it for a moment and put it back; VI_ERROR_NSUP_OPER for a session of
// another VISA library.
ViStatus qviGetProgressHandler(ViSession vi, QviProgressHandler* handler, ViAddr* userData);

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
// Quarvel's own (not exported either): the caller has read a header of the
// current reply itself (a block header read byte by byte, a file header that
// states the file's size) and knows that `remaining` more data bytes follow.
// The progress reports of the next reads count that data, with `remaining`
// as the total, across as many read calls as it takes (a write ends it).
ViStatus qviExpectReplyData(ViSession vi, ViUInt64 remaining);

// Quarvel's own (not exported either): another VISA library, loaded at run
// time from `path` (dlopen), to which the resource manager `rm` passes the
// resources this layer does not open itself (GPIB, ASRL, VXI, PXI, and any
// name our parser refuses: QVI_LIBRARY_FOR_OTHERS), or every resource
// (QVI_LIBRARY_FOR_ALL). Sessions opened through it get handles of this
// layer, whose functions call the library's (formatted I/O through its viV…
// forms). A null or empty path stops passing resources on; sessions already
// open keep their library. A library that cannot be loaded, or lacks a
// function Quarvel needs, gives VI_ERROR_LIBRARY_NFOUND and the reason
// (naming the path and the loader's message) in `message`, a
// ViChar[QVI_MESSAGE_BUFLEN]; on success `message` is empty.
#define QVI_LIBRARY_FOR_OTHERS ((ViUInt16)0)
#define QVI_LIBRARY_FOR_ALL ((ViUInt16)1)
#define QVI_MESSAGE_BUFLEN 1024
ViStatus qviUseVisaLibrary(ViSession rm, ViConstString path, ViUInt16 resources, ViChar message[]);
// Quarvel's own (not exported either): what to tell the user about a viOpen of
// `name` on `rm` that answered `status`, beyond the status itself, into a
// ViChar[QVI_MESSAGE_BUFLEN]: which loaded library answered, or that no VISA
// library is named for an interface this layer does not serve ("GPIB"), or
// for QVI_ERROR_NO_PERMISSION the udev rules to install. Empty when there is
// nothing to add.
ViStatus qviOpenFailureText(ViSession rm, ViConstRsrc name, ViStatus status, ViChar message[]);
// Quarvel's own (not exported either): what the last viFindRsrc of the
// resource manager rm found out about each way of looking, one line each
// (e.g. why DNS-SD found nothing), NUL-terminated and cut to size bytes.
ViStatus qviFindReport(ViSession rm, ViChar report[], ViUInt32 size);
// Quarvel's own (not exported either), callable from any thread: ends the
// viFindRsrc under way on rm within a few tens of milliseconds instead of
// after its listening time (a loaded library's own search is still waited
// for); it and every later viFindRsrc on rm answer VI_ERROR_ABORT. A
// resource manager whose finding was cancelled stays so: open another for
// the next search.
ViStatus qviCancelFind(ViSession rm);
