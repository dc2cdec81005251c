#pragma once

// Quarvel's own VISA functions that only Quarvel's programs use: declared
// here, not in the installed visa.h, and not exported by libquarvel-visa.so.
// Quarvel's drivers read files without block header by their stated size
// (qviEndOfReplyData, qviExpectReplyData); loading another VISA library
// (qviUseVisaLibrary, qviOpenFailureText) is for Quarvel itself, as this
// library, loaded by other programs, never loads another.

#include "visa/visa.h"

// The caller has read all the data of
// the current reply by a length of its own (a file without block header that
// states its size), as "%#b" does for a block. Only the reply's terminator may
// be left, and firmware differs there (a line feed, NULs before it, or
// nothing). Over VXI-11 the rest is read with viFlush(VI_READ_BUF) as usual;
// over a raw socket nothing waits for a terminator that may never come: NULs,
// CRs and one line feed at the start of the next reply are dropped instead.
ViStatus qviEndOfReplyData(ViSession vi);
// The caller has read a header of the
// current reply itself (a block header read byte by byte, a file header that
// states the file's size) and knows that `remaining` more data bytes follow.
// The progress reports of the next reads count that data, with `remaining`
// as the total, across as many read calls as it takes (a write ends it).
ViStatus qviExpectReplyData(ViSession vi, ViUInt64 remaining);
// Another VISA library, loaded at run
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
// What to tell the user about a viOpen of
// `name` on `rm` that answered `status`, beyond the status itself, into a
// ViChar[QVI_MESSAGE_BUFLEN]: which loaded library answered, or that no VISA
// library is named for an interface this layer does not serve ("GPIB"), or
// for QVI_ERROR_NO_PERMISSION the udev rules to install. Empty when there is
// nothing to add.
ViStatus qviOpenFailureText(ViSession rm, ViConstRsrc name, ViStatus status, ViChar message[]);

// The I/O log (docs/visa.md, "I/O
// log"), one line per operation of this layer's sessions, process-wide.
// qviStartIoLog appends to `path` (created with the user's umask; never
// truncated), and with withData the whole binary payloads to `path`.data; a
// log already running is stopped first. On failure `message`, a
// ViChar[QVI_MESSAGE_BUFLEN], says why. QUARVEL_IO_LOG=FILE (and
// QUARVEL_IO_LOG_DATA=1) start it at the first viOpenDefaultRM.
ViStatus qviStartIoLog(ViConstString path, ViBoolean withData, ViChar message[]);
ViStatus qviStopIoLog(void);
// The file the log runs into (empty when it does not run), cut to size bytes.
ViStatus qviIoLogPath(ViChar path[], ViUInt32 size);
// Called with each line written (without its line feed), on the thread of
// the operation, while the log runs; null stops the calls. The listener must
// not call VISA functions.
typedef void (*QviIoLogListener)(ViConstString line, ViAddr userData);
ViStatus qviSetIoLogListener(QviIoLogListener listener, ViAddr userData);

// The last write or read of the session
// vi that failed, so that a program can say why an exchange failed: its
// status, whether it was a read, how long the VISA call had waited by then
// (ms), the bytes that call had read, and the first line of the message last
// sent before it (at most 120 characters). status is VI_SUCCESS when nothing
// has failed since the session opened or qviClearLastFailure.
typedef struct {
    ViStatus status;
    ViBoolean reading;
    ViUInt32 waitedMs;
    ViUInt64 bytesRead;
    ViChar command[128];
} QviLastFailure;
ViStatus qviGetLastFailure(ViSession vi, QviLastFailure* failure);
ViStatus qviClearLastFailure(ViSession vi);

// The progress handler and user data set on vi (null when none), so a caller
// can step around it for a moment and put it back; VI_ERROR_NSUP_OPER for a
// session of another VISA library.
ViStatus qviGetProgressHandler(ViSession vi, QviProgressHandler* handler, ViAddr* userData);
