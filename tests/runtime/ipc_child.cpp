// The "other process" of the cross-process runtime tests. Each command does one thing with the
// library's cross-process objects and reports on stdout, one line per fact, so the test can wait
// for a line and check it.
//
//   contend NAME FILE N   N times: lock NAME, read the number in FILE, pause, write it back plus one
//   hold NAME             lock NAME, print "locked", then wait to be killed
//   lock NAME             open (never create) NAME, lock it, print "locked", unlock; exit status = Lock result
//   shm-show NAME         open the shared memory NAME, print "size=S counter=C data=D"
//   shm-write NAME TEXT   open NAME, write TEXT at the start of its data under the lock, bump the counter,
//                         print "counter=C"
//   notify-listen NAME    open the channel NAME, register, print "registered PID", then print
//                         "got LEN TEXT" for each message (TEXT: its first 16 bytes) until killed
//   notify-send NAME TEXT [PID]  open the channel NAME, broadcast TEXT (to PID only when given), print
//                         "sent=R"

#include "runtime/process_mutex.h"
#include "runtime/process_notifier.h"
#include "runtime/share_memory.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using keycore::CProcessMutex;
using keycore::CShareMemory;
using keycore::ProcessNotifier;

namespace {

int Contend(const std::string& name, const char* path, int iterations) {
    CProcessMutex mutex;
    if (mutex.OpenOrCreate(name) != 0)
        return 10;
    for (int i = 0; i < iterations; ++i) {
        if (mutex.Lock() != 0)
            return 11;
        long value = 0;
        if (FILE* in = std::fopen(path, "r")) {
            if (std::fscanf(in, "%ld", &value) != 1)
                value = 0;
            std::fclose(in);
        }
        // Widens the window between read and write: without mutual exclusion updates get lost.
        usleep(200);
        FILE* out = std::fopen(path, "w");
        if (out == nullptr)
            return 12;
        std::fprintf(out, "%ld\n", value + 1);
        std::fclose(out);
        if (mutex.Unlock() != 0)
            return 13;
    }
    return 0;
}

int Hold(const std::string& name) {
    CProcessMutex mutex;
    if (mutex.OpenOrCreate(name) != 0 || mutex.Lock() != 0)
        return 10;
    std::printf("locked\n");
    std::fflush(stdout);
    for (;;)
        pause();
}

int LockOnce(const std::string& name) {
    CProcessMutex mutex;
    if (mutex.Open(name) != 0)
        return 10;
    const int res = mutex.Lock();
    if (res == 0) {
        std::printf("locked\n");
        std::fflush(stdout);
        mutex.Unlock();
    }
    return res;
}

int ShowSharedMemory(const std::string& name) {
    CShareMemory shm;
    const int res = shm.Open(name, false);
    if (res != 0) {
        std::printf("open=%d\n", res);
        return 10;
    }
    const char* data = static_cast<const char*>(shm.Data());
    std::printf("size=%u counter=%u data=%.*s\n", shm.DataSize(), shm.GetCounter(),
                static_cast<int>(strnlen(data, shm.DataSize())), data);
    return 0;
}

int WriteSharedMemory(const std::string& name, const char* text) {
    CShareMemory shm;
    if (shm.Open(name, false) != 0)
        return 10;
    const size_t length = std::strlen(text) + 1;
    if (length > shm.DataSize())
        return 11;
    keycore::CShareMemoryHolder hold(shm);
    if (!hold.IsLocked())
        return 12;
    std::memcpy(shm.Data(), text, length);
    std::printf("counter=%u\n", shm.BumpCounter());
    return 0;
}

void PrintMessage(void* /*pContext*/, const void* pMessage, uint32_t ulLength) {
    const int shown = static_cast<int>(ulLength < 16 ? ulLength : 16);
    std::printf("got %u %.*s\n", ulLength, shown, static_cast<const char*>(pMessage));
    std::fflush(stdout);
}

int NotifyListen(const char* name) {
    ProcessNotifier notifier;
    notifier.SetCallback(&PrintMessage, nullptr);
    if (notifier.Open(name) != 0 || notifier.Register() != 0)
        return 10;
    std::printf("registered %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    for (;;)
        pause();
}

int NotifySend(const char* name, const char* text, int32_t target) {
    ProcessNotifier notifier;
    if (notifier.Open(name) != 0)
        return 10;
    std::printf("sent=%d\n", notifier.Broadcast(target, text, static_cast<uint32_t>(std::strlen(text))));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "contend" && argc == 5)
        return Contend(argv[2], argv[3], std::atoi(argv[4]));
    if (command == "hold" && argc == 3)
        return Hold(argv[2]);
    if (command == "lock" && argc == 3)
        return LockOnce(argv[2]);
    if (command == "shm-show" && argc == 3)
        return ShowSharedMemory(argv[2]);
    if (command == "shm-write" && argc == 4)
        return WriteSharedMemory(argv[2], argv[3]);
    if (command == "notify-listen" && argc == 3)
        return NotifyListen(argv[2]);
    if (command == "notify-send" && (argc == 4 || argc == 5))
        return NotifySend(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 0);
    std::fprintf(stderr, "usage: see the comment at the top of ipc_child.cpp\n");
    return 2;
}
