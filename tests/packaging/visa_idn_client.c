/* A program as a user of the installed VISA library writes it, in C (the
 * install test also builds it as C++): the header included as <visa.h>
 * (pkg-config names its directory), linked with -lquarvel-visa. Prints the
 * identification of RESOURCE, then what Quarvel's own exported functions
 * answered (each is called once); exit status 0 when every call succeeded.
 * Usage: visa_idn_client RESOURCE */

#include <visa.h>

#include <stdio.h>
#include <string.h>

static ViInt32 CountReports(ViSession vi, ViUInt64 done, ViUInt64 expected, ViAddr userData) {
    (void)vi;
    (void)done;
    (void)expected;
    ++*(unsigned*)userData;
    return QVI_PROGRESS_CONTINUE;
}

int main(int argc, char** argv) {
    ViSession resourceManager = VI_NULL;
    ViSession instrument = VI_NULL;
    ViFindList list = VI_NULL;
    ViUInt32 found = 0;
    ViChar idn[256] = {0};
    ViChar name[256] = {0};
    ViChar report[4096] = {0};
    unsigned reports = 0;
    unsigned long blockBytes = 0;
    ViStatus status;
    size_t length;

    if (argc != 2) {
        fputs("usage: visa_idn_client RESOURCE\n", stderr);
        return 2;
    }
    if (viOpenDefaultRM(&resourceManager) != VI_SUCCESS ||
        viOpen(resourceManager, argv[1], VI_NULL, VI_NULL, &instrument) != VI_SUCCESS) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    if (qviSetProgressHandler(instrument, CountReports, &reports) != VI_SUCCESS) {
        fputs("qviSetProgressHandler failed\n", stderr);
        return 1;
    }
    /* Plain %t reads into 256 bytes and keeps the reply's terminator. */
    status = viQueryf(instrument, "*IDN?\n", "%t", idn);
    if (status < VI_SUCCESS) {
        fprintf(stderr, "*IDN? failed: %s\n", qviStatusName(status));
        return 1;
    }
    length = strlen(idn);
    while (length > 0 && (idn[length - 1] == '\n' || idn[length - 1] == '\r'))
        idn[--length] = '\0';
    printf("%s\n", idn);
    /* A block over 64 KiB gets progress reports; on a socket the block's
     * line feeds are data and its terminator comes with it. */
    if (viPrintf(instrument, ":TEST:BLOCK? 300000\n") != VI_SUCCESS) {
        fputs("viPrintf failed\n", stderr);
        return 1;
    }
    do {
        ViByte piece[20480];
        ViUInt32 got = 0;
        status = viRead(instrument, piece, sizeof piece, &got);
        blockBytes += got;
    } while (status == VI_SUCCESS_MAX_CNT);
    printf("block: %s, %lu bytes\n", qviStatusName(status), blockBytes);
    printf("progress: %s\n", reports > 0 ? "reported" : "not reported");
    printf("status name: %s\n", qviStatusName(VI_ERROR_TMO));

    /* A search only in a loaded VISA library, of which there is none: the
     * report says so. */
    status = viSetAttribute(resourceManager, QVI_ATTR_DISCOVERY_METHODS, (ViAttrState) "library");
    if (status != VI_SUCCESS) {
        fprintf(stderr, "QVI_ATTR_DISCOVERY_METHODS: %s\n", qviStatusName(status));
        return 1;
    }
    status = viFindRsrc(resourceManager, "?*", &list, &found, name);
    if (status != VI_SUCCESS && status != VI_ERROR_RSRC_NFOUND) {
        fprintf(stderr, "viFindRsrc failed: %s\n", qviStatusName(status));
        return 1;
    }
    if (qviFindReport(resourceManager, report, sizeof report) != VI_SUCCESS) {
        fputs("qviFindReport failed\n", stderr);
        return 1;
    }
    printf("find report: %s", report);
    if (qviCancelFind(resourceManager) != VI_SUCCESS) {
        fputs("qviCancelFind failed\n", stderr);
        return 1;
    }
    status = viFindRsrc(resourceManager, "?*", &list, &found, name);
    printf("search after cancel: %s\n", qviStatusName(status));
    viClose(resourceManager);
    return 0;
}
