/* A program as a user of the installed VISA library writes it, in C (the
 * install test also builds it as C++): the header included as <visa.h>
 * (pkg-config names its directory), linked with -lquarvel-visa. Prints the
 * identification of RESOURCE; exit status 0 when every call succeeded.
 * Usage: visa_idn_client RESOURCE */

#include <visa.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    ViSession resourceManager = VI_NULL;
    ViSession instrument = VI_NULL;
    ViChar idn[256] = {0};
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
    /* Plain %t reads into 256 bytes and keeps the reply's terminator. */
    status = viQueryf(instrument, "*IDN?\n", "%t", idn);
    viClose(resourceManager);
    if (status < VI_SUCCESS) {
        fprintf(stderr, "*IDN? failed: status 0x%08X\n", (unsigned)status);
        return 1;
    }
    length = strlen(idn);
    while (length > 0 && (idn[length - 1] == '\n' || idn[length - 1] == '\r'))
        idn[--length] = '\0';
    printf("%s\n", idn);
    return 0;
}
