/* A C program that uses libquarvel-visa.so as any VISA library is used: it
 * loads the library by path and reaches every function through dlsym by its
 * standard name, with the standard's types written out here (no Quarvel
 * header). Usage: dlopen_client LIBRARY RESOURCE
 * Prints the identification read twice (viWrite/viRead and viQueryf), the
 * session's resource name and the description of VI_ERROR_TMO; exits 0 when
 * every call succeeded. */

#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef int32_t ViStatus;
typedef uint32_t ViSession;
typedef uint32_t ViUInt32;
typedef uint32_t ViAttr;
typedef uintptr_t ViAttrState;

#define VI_SUCCESS 0
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015u)
#define VI_ATTR_TMO_VALUE 0x3FFF001Au
#define VI_ATTR_RSRC_NAME 0xBFFF0002u

typedef ViStatus (*OpenDefaultRM)(ViSession*);
typedef ViStatus (*Open)(ViSession, const char*, ViUInt32, ViUInt32, ViSession*);
typedef ViStatus (*Close)(ViSession);
typedef ViStatus (*Write)(ViSession, const unsigned char*, ViUInt32, ViUInt32*);
typedef ViStatus (*Read)(ViSession, unsigned char*, ViUInt32, ViUInt32*);
typedef ViStatus (*SetAttribute)(ViSession, ViAttr, ViAttrState);
typedef ViStatus (*GetAttribute)(ViSession, ViAttr, void*);
typedef ViStatus (*Queryf)(ViSession, const char*, const char*, ...);
typedef ViStatus (*StatusDesc)(ViSession, ViStatus, char*);

static void* Need(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (symbol == NULL)
        fprintf(stderr, "missing %s\n", name);
    return symbol;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: dlopen_client LIBRARY RESOURCE\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    OpenDefaultRM openDefaultRM = (OpenDefaultRM)Need(library, "viOpenDefaultRM");
    Open open = (Open)Need(library, "viOpen");
    Close close = (Close)Need(library, "viClose");
    Write write = (Write)Need(library, "viWrite");
    Read read = (Read)Need(library, "viRead");
    SetAttribute setAttribute = (SetAttribute)Need(library, "viSetAttribute");
    GetAttribute getAttribute = (GetAttribute)Need(library, "viGetAttribute");
    Queryf queryf = (Queryf)Need(library, "viQueryf");
    StatusDesc statusDesc = (StatusDesc)Need(library, "viStatusDesc");
    if (!openDefaultRM || !open || !close || !write || !read || !setAttribute || !getAttribute ||
        !queryf || !statusDesc)
        return 1;

    ViSession rm = 0;
    ViSession vi = 0;
    unsigned char reply[256];
    char text[256];
    ViUInt32 count = 0;
    int failures = 0;
    if (openDefaultRM(&rm) != VI_SUCCESS || open(rm, argv[2], 0, 0, &vi) != VI_SUCCESS) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    failures += setAttribute(vi, VI_ATTR_TMO_VALUE, 5000) != VI_SUCCESS;
    failures += write(vi, (const unsigned char*)"*IDN?\n", 6, &count) != VI_SUCCESS || count != 6;
    failures += read(vi, reply, sizeof reply - 1, &count) != VI_SUCCESS;
    reply[count] = '\0';
    printf("read: %s", (const char*)reply);
    memset(text, 0, sizeof text);
    failures += queryf(vi, "*IDN?\n", "%t", text) != VI_SUCCESS;
    printf("queryf: %s", text);
    failures += getAttribute(vi, VI_ATTR_RSRC_NAME, text) != VI_SUCCESS;
    printf("name: %s\n", text);
    failures += statusDesc(vi, VI_ERROR_TMO, text) != VI_SUCCESS;
    printf("desc: %s\n", text);
    failures += close(rm) != VI_SUCCESS;
    dlclose(library);
    return failures == 0 ? 0 : 1;
}
