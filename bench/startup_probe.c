/* A minimal PKCS#11 client for bench_startup.sh: loads a module, C_Initialize, C_GetSlotList,
 * C_Finalize, exits. With an idle time in seconds it stays initialised that long in between and
 * prints the CPU time the whole process used while idle, in milliseconds. */
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

static double CpuMillis(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s MODULE [IDLE_SECONDS]\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    CK_C_GetFunctionList getFunctionList = (CK_C_GetFunctionList)dlsym(module, "C_GetFunctionList");
    CK_FUNCTION_LIST_PTR p11 = NULL;
    if (getFunctionList == NULL || getFunctionList(&p11) != CKR_OK || p11->C_Initialize(NULL) != CKR_OK)
        return 3;
    CK_ULONG count = 0;
    if (p11->C_GetSlotList(CK_FALSE, NULL, &count) != CKR_OK)
        return 4;
    if (argc > 2) {
        const double before = CpuMillis();
        sleep((unsigned)atoi(argv[2]));
        printf("%.1f %lu\n", CpuMillis() - before, count);
    }
    return p11->C_Finalize(NULL) == CKR_OK ? 0 : 5;
}
