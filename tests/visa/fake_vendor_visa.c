/* A stand-in for a vendor's VISA library in the tests, loaded by path as
 * --visa-library loads one: it "has" a GPIB instrument and a serial port,
 * which Quarvel's own transports never list, and answers *IDN? on the GPIB
 * one with an identification of its own. It exports what Quarvel's loader
 * needs (the functions it does not serve answer VI_ERROR_NSUP_OPER) plus
 * viFindRsrc/viFindNext; no Quarvel header, the standard's types written
 * out as a vendor's header would give them. */

#include <fnmatch.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>

/* Most functions look at none or few of their arguments. */
#pragma GCC diagnostic ignored "-Wunused-parameter"

typedef int32_t ViStatus;
typedef uint32_t ViSession;
typedef uint32_t ViUInt32;
typedef uint32_t ViAttr;
typedef uintptr_t ViAttrState;

#define VI_SUCCESS 0
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011u)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000Eu)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067u)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001Du)

#define FAKE_RM 0x51u
#define FAKE_LIST 0x52u
#define FAKE_GPIB 0x53u

static const char* const kResources[] = {"GPIB0::7::INSTR", "ASRL1::INSTR"};
#define RESOURCE_COUNT 2u
static const char kIdentification[] = "FAKE VENDOR,GPIB BENCH METER,0,1.0\n";
/* The names matched by the last find, handed out by viFindNext. */
static const char* matched[RESOURCE_COUNT];
static ViUInt32 matchedCount;
static ViUInt32 nextMatch;

ViStatus viOpenDefaultRM(ViSession* rm) {
    *rm = FAKE_RM;
    return VI_SUCCESS;
}

ViStatus viFindRsrc(ViSession rm, const char* expr, ViUInt32* list, ViUInt32* count, char desc[]) {
    ViUInt32 i;
    if (rm != FAKE_RM)
        return VI_ERROR_INV_OBJECT;
    matchedCount = 0;
    nextMatch = 1;
    for (i = 0; i < RESOURCE_COUNT; ++i)
        /* The search expressions' '?' (one character) and '*' (any run) as
         * the shell's: enough for "?*", "GPIB?*" and "?*INSTR". */
        if (fnmatch(expr, kResources[i], 0) == 0)
            matched[matchedCount++] = kResources[i];
    if (matchedCount == 0)
        return VI_ERROR_RSRC_NFOUND;
    *list = FAKE_LIST;
    *count = matchedCount;
    strcpy(desc, matched[0]);
    return VI_SUCCESS;
}

ViStatus viFindNext(ViUInt32 list, char desc[]) {
    if (list != FAKE_LIST)
        return VI_ERROR_INV_OBJECT;
    if (nextMatch >= matchedCount)
        return VI_ERROR_RSRC_NFOUND;
    strcpy(desc, matched[nextMatch++]);
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession rm, const char* name, ViUInt32 mode, ViUInt32 timeout, ViSession* vi) {
    if (rm != FAKE_RM)
        return VI_ERROR_INV_OBJECT;
    if (strcmp(name, kResources[0]) != 0)
        return VI_ERROR_RSRC_NFOUND;
    *vi = FAKE_GPIB;
    return VI_SUCCESS;
}

ViStatus viClose(ViUInt32 object) {
    return VI_SUCCESS;
}

/* The one query it knows; readFmt's string argument receives the reply. */
ViStatus viVQueryf(ViSession vi, const char* writeFmt, const char* readFmt, va_list args) {
    if (vi != FAKE_GPIB)
        return VI_ERROR_INV_OBJECT;
    if (strncmp(writeFmt, "*IDN?", 5) != 0)
        return VI_ERROR_NSUP_OPER;
    strcpy(va_arg(args, char*), kIdentification);
    return VI_SUCCESS;
}

ViStatus viSetAttribute(ViUInt32 object, ViAttr attribute, ViAttrState value) {
    return VI_SUCCESS;
}

ViStatus viGetAttribute(ViUInt32 object, ViAttr attribute, void* value) {
    return VI_ERROR_NSUP_ATTR;
}

#define UNSUPPORTED(name, params)                                                                  \
    ViStatus name params {                                                                         \
        return VI_ERROR_NSUP_OPER;                                                                 \
    }
UNSUPPORTED(viRead, (ViSession vi, unsigned char* buf, ViUInt32 cnt, ViUInt32* ret))
UNSUPPORTED(viWrite, (ViSession vi, const unsigned char* buf, ViUInt32 cnt, ViUInt32* ret))
UNSUPPORTED(viFlush, (ViSession vi, uint16_t mask))
UNSUPPORTED(viVPrintf, (ViSession vi, const char* fmt, va_list args))
UNSUPPORTED(viVScanf, (ViSession vi, const char* fmt, va_list args))
