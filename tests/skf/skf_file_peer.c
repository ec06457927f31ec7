/* A second application process for the cross-process tests: connects to the first token, verifies
 * the user PIN and writes, reads back and compares one file of its own over and over. Exit status 0
 * when every round came back intact; 1 with a message on stderr otherwise. */
#include "keycore/skf.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { kFileSize = 4500 };

static void Pause5ms(void) {
    struct timespec ts = {0, 5000000};
    nanosleep(&ts, NULL);
}

static int Fail(const char* what, ULONG rv) {
    fprintf(stderr, "skf_file_peer: %s: 0x%08lx\n", what, (unsigned long)rv);
    return 1;
}

int main(int argc, char** argv) {
    char names[256];
    ULONG size = 0;
    DEVHANDLE dev = NULL;
    HAPPLICATION app = NULL;
    ULONG retry = 0;
    ULONG rv = SAR_OK;
    static BYTE data[kFileSize];
    static BYTE back[kFileSize];
    int rounds = 0;
    int round = 0;
    int tries = 0;
    if (argc != 3)
        return 2;
    rounds = atoi(argv[2]);
    for (tries = 0; tries < 2000; ++tries) {
        size = sizeof names;
        if (SKF_EnumDev(1, names, &size) == SAR_OK && names[0] != '\0')
            break;
        Pause5ms();
    }
    if ((rv = SKF_ConnectDev(names, &dev)) != SAR_OK)
        return Fail("connect", rv);
    if ((rv = SKF_OpenApplication(dev, "KEYCORE-APP", &app)) != SAR_OK)
        return Fail("open application", rv);
    if ((rv = SKF_VerifyPIN(app, USER_TYPE, "12345678", &retry)) != SAR_OK)
        return Fail("verify PIN", rv);
    rv = SKF_CreateFile(app, argv[1], kFileSize, SECURE_ANYONE_ACCOUNT, SECURE_ANYONE_ACCOUNT);
    if (rv != SAR_OK && rv != SAR_FILE_ALREADY_EXIST)
        return Fail("create file", rv);
    for (round = 0; round < rounds; ++round) {
        ULONG got = 0;
        int i = 0;
        for (i = 0; i < kFileSize; ++i)
            data[i] = (BYTE)(argv[1][0] + round * 31 + i);
        if ((rv = SKF_VerifyPIN(app, USER_TYPE, "12345678", &retry)) != SAR_OK)
            return Fail("verify PIN in the loop", rv);
        if ((rv = SKF_WriteFile(app, argv[1], 0, data, kFileSize)) != SAR_OK)
            return Fail("write", rv);
        memset(back, 0, sizeof back);
        if ((rv = SKF_ReadFile(app, argv[1], 0, kFileSize, back, &got)) != SAR_OK)
            return Fail("read", rv);
        if (got != kFileSize || memcmp(data, back, kFileSize) != 0) {
            fprintf(stderr, "skf_file_peer: round %d of %s came back different (%lu bytes)\n", round, argv[1],
                    (unsigned long)got);
            return 1;
        }
    }
    SKF_CloseApplication(app);
    SKF_DisConnectDev(dev);
    return 0;
}
