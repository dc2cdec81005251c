#pragma once

// The VISA functions, types and status values that Quarvel's instrument code
// uses, with the names, signatures and numeric values of the VPP-4.3 standard.
// Quarvel carries its own implementation (one file per transport behind
// this header), so no vendor VISA library is needed.

#include <cstdarg>
#include <cstdint>

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
using ViAttr = ViUInt32;
using ViAttrState = ViUInt64;
using ViAccessMode = ViUInt32;

using ViString = ViChar*;
using ViConstString = const ViChar*;
using ViRsrc = ViString;
using ViConstRsrc = ViConstString;
using ViBuf = ViByte*;
using ViConstBuf = const ViByte*;
using ViPBuf = ViByte*;
using ViPSession = ViSession*;
using ViPUInt32 = ViUInt32*;
using ViPInt32 = ViInt32*;
using ViAddr = void*;

constexpr ViUInt32 VI_NULL = 0;
constexpr ViBoolean VI_TRUE = 1;
constexpr ViBoolean VI_FALSE = 0;

// Completion codes.
constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;

// Error codes.
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000);
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000E);
constexpr ViStatus VI_ERROR_RSRC_LOCKED = static_cast<ViStatus>(0xBFFF000F);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001D);
constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001E);
constexpr ViStatus VI_ERROR_ABORT = static_cast<ViStatus>(0xBFFF0030);
constexpr ViStatus VI_ERROR_INV_SETUP = static_cast<ViStatus>(0xBFFF003A);
constexpr ViStatus VI_ERROR_ALLOC = static_cast<ViStatus>(0xBFFF003C);
constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003E);
constexpr ViStatus VI_ERROR_INV_FMT = static_cast<ViStatus>(0xBFFF003F);
constexpr ViStatus VI_ERROR_NSUP_FMT = static_cast<ViStatus>(0xBFFF0041);
constexpr ViStatus VI_ERROR_INV_MASK = static_cast<ViStatus>(0xBFFF0042);
constexpr ViStatus VI_ERROR_USER_BUF = static_cast<ViStatus>(0xBFFF0071);
constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067);
constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078);
constexpr ViStatus VI_ERROR_SESN_NLOCKED = static_cast<ViStatus>(0xBFFF009C);
constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6);

// Attributes.
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
// Quarvel's own: the TCP port of the portmapper that VXI-11 sessions opened
// from this resource manager ask (default 111). Set on the resource manager
// session; lets tests and the simulator work without root. viGetAttribute
// writes it as a ViUInt16.
constexpr ViAttr QVI_ATTR_PORTMAPPER_PORT = 0x3FFFC001;

constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;

// viFlush masks.
constexpr ViUInt16 VI_READ_BUF = 1;
constexpr ViUInt16 VI_WRITE_BUF = 2;
constexpr ViUInt16 VI_READ_BUF_DISCARD = 4;
constexpr ViUInt16 VI_WRITE_BUF_DISCARD = 8;
constexpr ViUInt16 VI_IO_IN_BUF = 16;
constexpr ViUInt16 VI_IO_OUT_BUF = 32;
constexpr ViUInt16 VI_IO_IN_BUF_DISCARD = 64;
constexpr ViUInt16 VI_IO_OUT_BUF_DISCARD = 128;

ViStatus viOpenDefaultRM(ViPSession vi);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi);
ViStatus viClose(ViObject vi);
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
ViStatus viFlush(ViSession vi, ViUInt16 mask);
ViStatus viClear(ViSession vi);

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...);
ViStatus viVPrintf(ViSession vi, ViConstString writeFmt, va_list params);
ViStatus viScanf(ViSession vi, ViConstString readFmt, ...);
ViStatus viVScanf(ViSession vi, ViConstString readFmt, va_list params);
ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
ViStatus viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, va_list params);

// The status as text, e.g. "VI_ERROR_TMO: Timeout expired before operation
// completed." into desc (at least 256 bytes, as the standard requires).
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
// Quarvel's own: the symbolic name of a status ("VI_ERROR_TMO"), or
// "unknown status" for values this layer does not know.
const char* qviStatusName(ViStatus status);
