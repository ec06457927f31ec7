/* An application that ends while one of its threads still waits in SKF_WaitForDevEvent: main returns
 * once the thread has had time to start waiting. The process must end with status 0 rather than hang
 * in the library's teardown. */
#include "keycore/skf.h"

#include <pthread.h>
#include <stdio.h>
#include <time.h>

static void* WaitForAnyEvent(void* unused) {
    char name[256];
    ULONG nameLen = sizeof name;
    ULONG event = 0;
    (void)unused;
    SKF_WaitForDevEvent(name, &nameLen, &event);
    return NULL;
}

int main(void) {
    char names[256];
    ULONG size = sizeof names;
    pthread_t waiter;
    struct timespec pause = {0, 300000000};
    if (SKF_EnumDev(1, names, &size) != SAR_OK) {
        fprintf(stderr, "skf_exit_waiter: no device list\n");
        return 1;
    }
    if (pthread_create(&waiter, NULL, WaitForAnyEvent, NULL) != 0)
        return 1;
    nanosleep(&pause, NULL);
    return 0;
}
