// A stand-in SKF library with a handful of entry points, each answering a code of its own, so that a
// test sees which names the binding looked up and which it left empty.

#include <cstdint>

using ULONG = uint32_t;

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

// The cancel entry under the name the binding asks for, and under its usual name.
FAKE_EXPORT ULONG SKF_cCancelWaitForDevEvent() {
    return 0xCA0C0001u;
}
FAKE_EXPORT ULONG SKF_CancelWaitForDevEvent() {
    return 0xCA0C0002u;
}
// Exported here, but never looked up.
FAKE_EXPORT ULONG SKF_LockDev(void*, ULONG) {
    return 0x10C0000u;
}
FAKE_EXPORT ULONG SKF_UnlockDev(void*) {
    return 0x10C0001u;
}
// Writes the container type 2 into the record.
FAKE_EXPORT ULONG SKF_ExtGetContainerInfo(void*, ULONG* info) {
    *info = 2;
    return 0xC0470000u;
}
// Echoes its arguments back, to show they pass unchanged and in order.
FAKE_EXPORT ULONG SKF_GetPINInfo(void* app, ULONG type, ULONG* maxRetry, ULONG* remain, int32_t* isDefault) {
    *maxRetry = type + 10;
    *remain = static_cast<ULONG>(reinterpret_cast<uintptr_t>(app));
    *isDefault = 1;
    return 0x91000000u;
}
