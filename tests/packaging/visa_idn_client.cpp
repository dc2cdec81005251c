// A program as a user of the installed VISA library writes it: the header
// included as <visa.h> (pkg-config names its directory), linked with
// -lquarvel-visa. Prints the identification of RESOURCE; exit status 0 when
// every call succeeded.   Usage: visa_idn_client RESOURCE

#include <visa.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: visa_idn_client RESOURCE\n", stderr);
        return 2;
    }
    ViSession resourceManager = VI_NULL;
    ViSession instrument = VI_NULL;
    if (viOpenDefaultRM(&resourceManager) != VI_SUCCESS ||
        viOpen(resourceManager, argv[1], VI_NULL, VI_NULL, &instrument) != VI_SUCCESS) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    // Plain %t reads into 256 bytes and keeps the reply's terminator.
    ViChar idn[256] = {};
    const ViStatus status = viQueryf(instrument, "*IDN?\n", "%t", idn);
    viClose(resourceManager);
    if (status < VI_SUCCESS) {
        std::fprintf(stderr, "*IDN? failed: status 0x%08X\n", static_cast<unsigned>(status));
        return 1;
    }
    std::size_t length = std::strlen(idn);
    while (length > 0 && (idn[length - 1] == '\n' || idn[length - 1] == '\r'))
        idn[--length] = '\0';
    std::printf("%s\n", idn);
    return 0;
}
