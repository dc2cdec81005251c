#include "cli/io_log_option.h"

#include "visa/visa_internal.h"

#include <cstdio>
#include <cstring>

bool TakeIoLogOptions(int& argc, char** argv, const char* command) {
    const char* path = nullptr;
    bool withData = false;
    int kept = 2;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--io-log") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quarvel-cli %s: --io-log needs a file name\n", command);
                return false;
            }
            path = argv[++i];
        } else if (std::strcmp(argv[i], "--io-log-data") == 0) {
            withData = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    if (path == nullptr) {
        if (withData) {
            std::fprintf(stderr, "quarvel-cli %s: --io-log-data needs --io-log FILE\n", command);
            return false;
        }
        return true;
    }
    ViChar message[QVI_MESSAGE_BUFLEN];
    if (qviStartIoLog(path, withData ? VI_TRUE : VI_FALSE, message) != VI_SUCCESS) {
        std::fprintf(stderr, "quarvel-cli %s: cannot write the I/O log: %s\n", command, message);
        return false;
    }
    return true;
}
