#pragma once
// Result codes shared by the cross-process objects.

namespace keycore {

// Results of the cross-process objects (CProcessMutex, CShareMem, CShareMemory and the
// notification channel).
enum IpcResult : int {
    kIpcOk = 0,
    kIpcExists = 1,      // already exists (create) or already attached
    kIpcMissing = 2,     // does not exist (open)
    kIpcNoKey = 3,       // no key for the name, or an empty name or size
    kIpcNotOpen = 4,     // mutex not open; lock or open failure of a shared segment
    kIpcSystemError = 5, // a system call failed
    kIpcTableFull = 6,   // no room left in a registry
};

} // namespace keycore
