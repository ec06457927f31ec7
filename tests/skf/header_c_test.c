/* The public SKF header as a C application sees it: layout, codes, and the entry points resolved from
 * the shared library. Exits 0 when everything matches, 1 after printing each mismatch. */
#include "keycore/skf.h"

#include <stddef.h>
#include <stdio.h>

static int g_failures = 0;

static void Expect(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "mismatch: %s\n", what);
        ++g_failures;
    }
}

int main(void) {
    /* The layout is also checked at compile time inside the header; this repeats a few figures as a
     * C compiler lays them out, so a header that skipped its own checks under C would still fail. */
    Expect(sizeof(DEVINFO) == 294, "sizeof(DEVINFO)");
    Expect(offsetof(DEVINFO, MaxBufferSize) == 226, "DEVINFO.MaxBufferSize");
    Expect(sizeof(RSAPRIVATEKEYBLOB) == 1164, "sizeof(RSAPRIVATEKEYBLOB)");
    Expect(offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) == 208, "ENVELOPEDKEYBLOB.ECCCipherBlob");
    Expect(offsetof(ECCCIPHERBLOB, Cipher) == 164, "ECCCIPHERBLOB.Cipher");
    Expect(sizeof(FILEATTRIBUTE) == 44 && sizeof(BLOCKCIPHERPARAM) == 44, "44-byte structures");
    Expect(sizeof(ULONG) == 4, "sizeof(ULONG)");
    Expect(SAR_FILE_NOT_EXIST == 0x0A000031 && SAR_BUFFER_TOO_SMALL == 0x0A000020, "result codes");

    /* Entry points linked from -lkeycore: a value never issued is refused without being touched. */
    int notAHandle = 0;
    Expect(SKF_CloseHandle(NULL) == SAR_INVALIDHANDLEERR, "SKF_CloseHandle(NULL)");
    Expect(SKF_CloseHandle(&notAHandle) == SAR_INVALIDHANDLEERR, "SKF_CloseHandle(foreign)");
    Expect(notAHandle == 0, "foreign value untouched");

    /* Every prototype is callable from C through a pointer of its declared type. */
    ULONG (*closeHandle)(HANDLE) = SKF_CloseHandle;
    ULONG (*encryptInit)(HANDLE, BLOCKCIPHERPARAM) = SKF_EncryptInit;
    ULONG (*agreement)
    (HANDLE, ULONG, ECCPUBLICKEYBLOB*, ECCPUBLICKEYBLOB*, ECCPUBLICKEYBLOB*, BYTE*, ULONG, BYTE*, ULONG, HANDLE*) =
        SKF_GenerateAgreementDataAndKeyWithECC;
    Expect(closeHandle != NULL && encryptInit != NULL && agreement != NULL, "function pointers");

    if (g_failures == 0)
        printf("public header: layout, codes and entry points as expected\n");
    return g_failures == 0 ? 0 : 1;
}
