#include "instr/visa_library_choice.h"

#include <cstdlib>
#include <cstring>

VisaLibraryChoice VisaLibraryFromEnvironment() {
    VisaLibraryChoice choice;
    if (const char* path = std::getenv("QUARVEL_VISA_LIBRARY"))
        choice.path = path;
    const char* all = std::getenv("QUARVEL_VISA_LIBRARY_ALL");
    choice.allResources = all != nullptr && std::strcmp(all, "1") == 0;
    return choice;
}
