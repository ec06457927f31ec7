// A stand-in SKF library with a handful of entry points, each answering a code of its own, so that a
// test sees which names the binding looked up and which it left empty.

#include <cstdint>
#include <cstring>

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

// Answers that break the rules, for the device manager's readers.

// The device list: the size query says 8 bytes; the list then fills the whole buffer with 'A' (no name
// ends) and claims 4096 bytes.
FAKE_EXPORT ULONG SKF_EnumDev(int32_t, char* list, ULONG* size) {
    if (list == nullptr) {
        *size = 8;
        return 0;
    }
    std::memset(list, 'A', *size);
    *size = 4096;
    return 0;
}
FAKE_EXPORT ULONG SKF_ConnectDev(char*, void** dev) {
    *dev = reinterpret_cast<void*>(0x77);
    return 0;
}
FAKE_EXPORT ULONG SKF_GetDevInfo(void* dev, void*) {
    return dev == reinterpret_cast<void*>(0x77) ? 0xD1F00000u : 1;
}
// Certificates: signing (flag 1) claims more bytes on the second call than the first announced;
// encryption (flag 0) is ten bytes that are no certificate.
FAKE_EXPORT ULONG SKF_ExportCertificate(void*, int32_t sign, unsigned char* cert, ULONG* len) {
    if (cert == nullptr) {
        *len = 10;
        return 0;
    }
    std::memset(cert, 0x30, *len);
    if (sign != 0)
        *len = 5000;
    return 0;
}
