/* A tour of the SKF interface for application developers.
 *
 * Builds against the public header and the shared library only:
 *     cc -std=c11 -I include examples/skf_tour.c -L build/bin -lkeycore -lpthread -o skf_tour
 *
 *     skf_tour            for every token: connect, show its information, open the application, show the
 *                         user PIN state, verify the PIN, list the containers, create one, store a
 *                         certificate in it, read it back and compare, generate an SM2 key pair in it,
 *                         sign SM3(ZA || M) and verify the signature, encrypt and decrypt with an SM4
 *                         session key, delete the container
 *     skf_tour --watch N  wait for N device events (a token plugged or pulled out) in a second thread
 *
 * The PIN is taken from the KEYCORE_TOUR_PIN environment variable of this example, "12345678" (the PIN
 * of a new virtual token) when it is not set. Exit status 0 when every step worked. */
#include "keycore/skf.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A small self-signed DER certificate ("CN=keycore tour"). */
static const BYTE kTourCertificate[] = {
    0x30, 0x82, 0x01, 0x82, 0x30, 0x82, 0x01, 0x29, 0xA0, 0x03, 0x02, 0x01, 0x02, 0x02, 0x14, 0x40,
    0x9B, 0x1D, 0x87, 0xC6, 0x92, 0x56, 0x1D, 0x0B, 0x67, 0x1B, 0x9B, 0x05, 0x2C, 0x7E, 0x39, 0xED,
    0xF4, 0x62, 0xAC, 0x30, 0x0A, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02, 0x30,
    0x17, 0x31, 0x15, 0x30, 0x13, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x0C, 0x6B, 0x65, 0x79, 0x63,
    0x6F, 0x72, 0x65, 0x20, 0x74, 0x6F, 0x75, 0x72, 0x30, 0x1E, 0x17, 0x0D, 0x32, 0x36, 0x31, 0x32,
    0x31, 0x31, 0x31, 0x33, 0x35, 0x30, 0x34, 0x39, 0x5A, 0x17, 0x0D, 0x33, 0x36, 0x31, 0x32, 0x30,
    0x38, 0x31, 0x33, 0x35, 0x30, 0x34, 0x39, 0x5A, 0x30, 0x17, 0x31, 0x15, 0x30, 0x13, 0x06, 0x03,
    0x55, 0x04, 0x03, 0x0C, 0x0C, 0x6B, 0x65, 0x79, 0x63, 0x6F, 0x72, 0x65, 0x20, 0x74, 0x6F, 0x75,
    0x72, 0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08,
    0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04, 0xFF, 0xA8, 0x8C, 0xF5,
    0xC7, 0xE6, 0xB8, 0x63, 0x9D, 0x84, 0x4E, 0xB9, 0x96, 0xE7, 0x16, 0x64, 0xF2, 0x46, 0x7E, 0xEB,
    0x01, 0x57, 0xE2, 0x64, 0x6F, 0x2A, 0x9D, 0xBB, 0x58, 0x94, 0xB6, 0x3E, 0xC7, 0x9C, 0xB8, 0x2E,
    0x6B, 0xB0, 0x9A, 0x90, 0x85, 0xB2, 0xBC, 0xE9, 0xB9, 0x76, 0x09, 0x3F, 0x8C, 0x0C, 0xF2, 0xFB,
    0x34, 0xB7, 0x76, 0xEF, 0x6B, 0x2E, 0x77, 0xFC, 0x02, 0x03, 0x10, 0x40, 0xA3, 0x53, 0x30, 0x51,
    0x30, 0x1D, 0x06, 0x03, 0x55, 0x1D, 0x0E, 0x04, 0x16, 0x04, 0x14, 0xA1, 0x14, 0x12, 0x8D, 0x02,
    0x94, 0xE2, 0xCA, 0x3F, 0x71, 0xBE, 0x6C, 0x5C, 0x4C, 0x80, 0x98, 0xEE, 0x5A, 0x35, 0xD8, 0x30,
    0x1F, 0x06, 0x03, 0x55, 0x1D, 0x23, 0x04, 0x18, 0x30, 0x16, 0x80, 0x14, 0xA1, 0x14, 0x12, 0x8D,
    0x02, 0x94, 0xE2, 0xCA, 0x3F, 0x71, 0xBE, 0x6C, 0x5C, 0x4C, 0x80, 0x98, 0xEE, 0x5A, 0x35, 0xD8,
    0x30, 0x0F, 0x06, 0x03, 0x55, 0x1D, 0x13, 0x01, 0x01, 0xFF, 0x04, 0x05, 0x30, 0x03, 0x01, 0x01,
    0xFF, 0x30, 0x0A, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02, 0x03, 0x47, 0x00,
    0x30, 0x44, 0x02, 0x20, 0x5F, 0x61, 0x2B, 0x89, 0x8D, 0x35, 0xFE, 0xFB, 0x9C, 0x3E, 0x66, 0x0C,
    0xC0, 0x3C, 0xAE, 0xA5, 0x5D, 0x9C, 0x68, 0xF3, 0xBE, 0xA6, 0x7F, 0x23, 0x63, 0x02, 0x05, 0x23,
    0xF3, 0xD9, 0x5A, 0xD6, 0x02, 0x20, 0x42, 0x3F, 0xCA, 0xAF, 0xCE, 0xC7, 0xC9, 0xB8, 0xC5, 0x70,
    0xAB, 0x36, 0x84, 0x3B, 0xA3, 0x88, 0xA9, 0x40, 0x6D, 0xF8, 0x9E, 0xB3, 0xCE, 0xC6, 0xE6, 0xC9,
    0x5A, 0x31, 0x7F, 0x15, 0xF6, 0x5B,
};

static const char kContainerName[] = "keycore-tour";

static int Check(const char* step, ULONG rv) {
    if (rv != SAR_OK) {
        printf("    %-28s failed: 0x%08lX\n", step, (unsigned long)rv);
        return 0;
    }
    return 1;
}

/* Prints a fixed-size text field of a structure, which need not end in NUL. */
static void PrintField(const char* label, const char* field, size_t size) {
    size_t len = 0;
    while (len < size && field[len] != '\0')
        ++len;
    printf("    %-28s %.*s\n", label, (int)len, field);
}

/* Prints a NUL-separated list ending in an empty name; returns its first name (or "" when empty). */
static const char* PrintList(const char* label, const char* list) {
    const char* name = list;
    printf("    %-28s", label);
    if (*name == '\0')
        printf(" (none)");
    for (; *name != '\0'; name += strlen(name) + 1)
        printf(" \"%s\"", name);
    printf("\n");
    return list;
}

/* Prints the first bytes of a value in hexadecimal. */
static void PrintHex(const char* label, const BYTE* data, size_t len) {
    size_t i;
    printf("    %-28s", label);
    for (i = 0; i < len && i < 16; ++i)
        printf("%s%02X", i == 0 ? " " : "", data[i]);
    printf("%s (%lu bytes)\n", len > 16 ? "..." : "", (unsigned long)len);
}

/* SM2 signing: a key pair made inside the container, the digest SM3(ZA || M) computed by the token
 * from the public key and the signer's identifier, the signature of that digest, its verification. */
static int TourSm2Signature(DEVHANDLE dev, HCONTAINER container) {
    static const char kMessage[] = "a message signed inside the token";
    static const char kSignerId[] = "1234567812345678"; /* the default identifier of GB/T 32918 */
    ECCPUBLICKEYBLOB publicKey;
    ECCSIGNATUREBLOB signature;
    HANDLE hash = NULL;
    BYTE digest[32];
    ULONG digestLen = sizeof digest;
    ULONG rv;

    if (!Check("SKF_GenECCKeyPair", SKF_GenECCKeyPair(container, SGD_SM2_1, &publicKey)))
        return 0;
    /* 256-bit values sit in the last 32 bytes of each 64-byte field. */
    PrintHex("SM2 public key X", publicKey.XCoordinate + 32, 32);

    if (!Check("SKF_DigestInit", SKF_DigestInit(dev, SGD_SM3, &publicKey, (BYTE*)kSignerId,
                                                (ULONG)strlen(kSignerId), &hash)))
        return 0;
    rv = SKF_Digest(hash, (BYTE*)kMessage, (ULONG)strlen(kMessage), digest, &digestLen);
    SKF_CloseHandle(hash);
    if (!Check("SKF_Digest", rv))
        return 0;
    PrintHex("SM3(ZA || M)", digest, digestLen);

    if (!Check("SKF_ECCSignData", SKF_ECCSignData(container, digest, digestLen, &signature)))
        return 0;
    PrintHex("signature r", signature.r + 32, 32);
    if (!Check("SKF_ECCVerify", SKF_ECCVerify(dev, &publicKey, digest, digestLen, &signature)))
        return 0;
    printf("    %-28s ok\n", "signature verified");

    /* A signature over another digest must be refused. */
    digest[0] ^= 1;
    if (SKF_ECCVerify(dev, &publicKey, digest, digestLen, &signature) == SAR_OK) {
        printf("    a changed digest was accepted\n");
        return 0;
    }
    printf("    %-28s refused, as it should be\n", "changed digest");
    return 1;
}

/* SM4 in CBC mode with padding through a session key held by the token. */
static int TourSm4(DEVHANDLE dev) {
    static const char kPlain[] = "plain text of any length, padded to whole blocks";
    BYTE key[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    BLOCKCIPHERPARAM param;
    HANDLE session = NULL;
    BYTE cipher[80], plain[80];
    ULONG cipherLen = sizeof cipher, plainLen = sizeof plain;
    int ok;

    if (!Check("SKF_SetSymmKey", SKF_SetSymmKey(dev, key, SGD_SM4_CBC, &session)))
        return 0;
    memset(&param, 0, sizeof param);
    memset(param.IV, 0x5A, 16);
    param.IVLen = 16;
    param.PaddingType = 1; /* PKCS#5-style padding: any length goes in */
    ok = Check("SKF_EncryptInit", SKF_EncryptInit(session, param)) &&
         Check("SKF_Encrypt", SKF_Encrypt(session, (BYTE*)kPlain, (ULONG)strlen(kPlain), cipher, &cipherLen));
    if (ok)
        PrintHex("SM4-CBC cipher text", cipher, cipherLen);
    ok = ok && Check("SKF_DecryptInit", SKF_DecryptInit(session, param)) &&
         Check("SKF_Decrypt", SKF_Decrypt(session, cipher, cipherLen, plain, &plainLen));
    if (ok && (plainLen != strlen(kPlain) || memcmp(plain, kPlain, plainLen) != 0)) {
        printf("    the decrypted text differs from the plain text\n");
        ok = 0;
    }
    if (ok)
        printf("    %-28s \"%.*s\"\n", "decrypted", (int)plainLen, (const char*)plain);
    SKF_CloseHandle(session);
    return ok;
}

static int TourApplication(DEVHANDLE dev, HAPPLICATION app, const char* pin) {
    ULONG maxRetry = 0, remaining = 0, retry = 0, size = 0, type = 0, length = 0;
    BOOL isDefault = 0;
    HCONTAINER container = NULL;
    char containers[1024];
    BYTE exported[sizeof kTourCertificate + 16];
    int ok = 1;

    if (!Check("SKF_GetPINInfo", SKF_GetPINInfo(app, USER_TYPE, &maxRetry, &remaining, &isDefault)))
        return 0;
    printf("    %-28s %lu of %lu tries left%s\n", "user PIN", (unsigned long)remaining, (unsigned long)maxRetry,
           isDefault ? ", still the default PIN" : "");
    if (!Check("SKF_VerifyPIN", SKF_VerifyPIN(app, USER_TYPE, (LPSTR)pin, &retry)))
        return 0;
    printf("    %-28s ok\n", "user PIN verified");

    size = sizeof containers;
    if (!Check("SKF_EnumContainer", SKF_EnumContainer(app, containers, &size)))
        return 0;
    PrintList("containers", containers);

    if (!Check("SKF_CreateContainer", SKF_CreateContainer(app, (LPSTR)kContainerName, &container)))
        return 0;
    printf("    %-28s \"%s\"\n", "created container", kContainerName);

    if (Check("SKF_ImportCertificate",
              SKF_ImportCertificate(container, TRUE, (BYTE*)kTourCertificate, sizeof kTourCertificate))) {
        /* Ask for the size first, then read the certificate into a buffer of that size. */
        ok = Check("SKF_ExportCertificate (size)", SKF_ExportCertificate(container, TRUE, NULL, &length));
        if (ok && length <= sizeof exported) {
            ok = Check("SKF_ExportCertificate", SKF_ExportCertificate(container, TRUE, exported, &length));
            if (ok && (length != sizeof kTourCertificate || memcmp(exported, kTourCertificate, length) != 0)) {
                printf("    the exported certificate differs from the imported one\n");
                ok = 0;
            }
        }
        if (ok)
            printf("    %-28s %lu bytes, identical after export\n", "signing certificate", (unsigned long)length);
    } else {
        ok = 0;
    }
    ok = TourSm2Signature(dev, container) && ok;
    ok = TourSm4(dev) && ok;
    if (Check("SKF_GetContainerType", SKF_GetContainerType(container, &type)))
        printf("    %-28s %lu (0 none, 1 RSA, 2 ECC)\n", "container key type", (unsigned long)type);

    Check("SKF_CloseContainer", SKF_CloseContainer(container));
    if (!Check("SKF_DeleteContainer", SKF_DeleteContainer(app, (LPSTR)kContainerName)))
        return 0;
    printf("    %-28s \"%s\"\n", "deleted container", kContainerName);
    return ok;
}

static int TourDevice(const char* name, const char* pin) {
    DEVHANDLE dev = NULL;
    HAPPLICATION app = NULL;
    DEVINFO info;
    char applications[600];
    ULONG size = sizeof applications;
    int ok = 0;

    printf("device \"%s\"\n", name);
    if (!Check("SKF_ConnectDev", SKF_ConnectDev((LPSTR)name, &dev)))
        return 0;
    if (Check("SKF_GetDevInfo", SKF_GetDevInfo(dev, &info))) {
        PrintField("manufacturer", info.Manufacturer, sizeof info.Manufacturer);
        PrintField("label", info.Label, sizeof info.Label);
        PrintField("serial number", info.SerialNumber, sizeof info.SerialNumber);
        printf("    %-28s %lu of %lu bytes free\n", "space", (unsigned long)info.FreeSpace,
               (unsigned long)info.TotalSpace);
    }
    if (Check("SKF_EnumApplication", SKF_EnumApplication(dev, applications, &size))) {
        const char* first = PrintList("applications", applications);
        if (*first == '\0') {
            printf("    no application to open\n");
        } else if (Check("SKF_OpenApplication", SKF_OpenApplication(dev, (LPSTR)first, &app))) {
            printf("    %-28s \"%s\"\n", "opened application", first);
            ok = TourApplication(dev, app, pin);
            Check("SKF_CloseApplication", SKF_CloseApplication(app));
        }
    }
    Check("SKF_DisConnectDev", SKF_DisConnectDev(dev));
    return ok;
}

static int Tour(void) {
    char names[1024];
    ULONG size = sizeof names;
    const char* pin = getenv("KEYCORE_TOUR_PIN");
    const char* name = NULL;
    int ok = 1;
    int count = 0;

    if (pin == NULL)
        pin = "12345678";
    if (!Check("SKF_EnumDev", SKF_EnumDev(TRUE, names, &size)))
        return 0;
    for (name = names; *name != '\0'; name += strlen(name) + 1) {
        ok = TourDevice(name, pin) && ok;
        ++count;
    }
    if (count == 0) {
        printf("no token present\n");
        return 0;
    }
    return ok;
}

/* ---- device events ---- */

struct Watch {
    int wanted;
    int seen;
};

static void* WatchEvents(void* arg) {
    struct Watch* watch = (struct Watch*)arg;
    while (watch->seen < watch->wanted) {
        char name[256];
        ULONG nameLen = sizeof name;
        ULONG event = 0;
        ULONG rv = SKF_WaitForDevEvent(name, &nameLen, &event);
        if (rv != SAR_OK) {
            printf("SKF_WaitForDevEvent ended: 0x%08lX\n", (unsigned long)rv);
            break;
        }
        printf("event: \"%s\" %s\n", name, event == 1 ? "plugged in" : event == 2 ? "pulled out" : "changed");
        fflush(stdout);
        ++watch->seen;
    }
    return NULL;
}

static int WatchDevices(int wanted) {
    struct Watch watch = {wanted, 0};
    pthread_t thread;
    char names[1024];
    ULONG size = sizeof names;

    /* The first call starts the library's device monitor; events from then on are queued. */
    if (!Check("SKF_EnumDev", SKF_EnumDev(TRUE, names, &size)))
        return 0;
    PrintList("present", names);
    printf("waiting for %d device event(s)\n", wanted);
    fflush(stdout);
    if (pthread_create(&thread, NULL, WatchEvents, &watch) != 0)
        return 0;
    pthread_join(thread, NULL);
    return watch.seen == wanted;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--watch") == 0)
        return WatchDevices(atoi(argv[2])) ? 0 : 1;
    if (argc != 1) {
        fprintf(stderr, "usage: %s [--watch COUNT]\n", argv[0]);
        return 2;
    }
    return Tour() ? 0 : 1;
}
