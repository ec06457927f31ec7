#pragma once
// One keydesk per machine: the first start holds a write lock on a fixed lock file for as long as it
// runs; a later start finds the lock taken and asks the running one, through a fixed pipe, to show
// its window. Other instances rely on both paths, so they never change.

constexpr char kLockFilePath[] = "/tmp/7b41b927-172f-4a1c-836c-6d613f76ce47";
constexpr char kShowFifoPath[] = "/tmp/Orvex5100gm-SKFMgr";

enum class InstanceState {
    First,   // this process holds the lock (the descriptor stays open until the process ends)
    Running, // another process holds it
    Failed,  // the lock file could not be used; the reason has been printed
};

// Opens the lock file without following links (mode 0666 whatever the umask), takes the lock and
// writes the process id into it.
InstanceState check_single_on(const char* lockPath = kLockFilePath);

// Writes "show" into the pipe (made with mode 0665 when missing). Blocks until the running instance
// has the pipe open. False when the pipe cannot be opened or is not a pipe: nothing is written then.
bool requestShow(const char* fifoPath = kShowFifoPath);
