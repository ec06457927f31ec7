// Another process using the library, for the cross-process tests. It reads one command per line on
// stdin and answers each with one line on stdout, starting with the CK_RV in decimal:
//
//   init                   C_Initialize(NULL)
//   final                  C_Finalize(NULL)
//   list 0|1               C_GetSlotList(FALSE|TRUE)      -> rv count id...
//   poll                   C_WaitForSlotEvent(DONT_BLOCK) -> rv slot
//   wait                   C_WaitForSlotEvent(0)          -> rv slot
//   open SLOT ro|rw        C_OpenSession                  -> rv handle
//   login H so|user PIN    C_Login
//   logout H               C_Logout
//   setpin H OLD NEW       C_SetPIN
//   inittoken SLOT PIN     C_InitToken with the label "peer"
//   state H                C_GetSessionInfo               -> rv state
//   pid                                                   -> 0 pid
//   exit                   leaves without C_Finalize (the library's own exit handling runs)
//
// The environment of the test (VTOKEN_SOCKET, the preloaded libusb replacement) is inherited.
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Answer(const std::string& line) {
    std::cout << line << std::endl;
}

std::string Run(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    std::ostringstream out;
    if (command == "init") {
        out << C_Initialize(nullptr);
    } else if (command == "final") {
        out << C_Finalize(nullptr);
    } else if (command == "list") {
        int present = 0;
        in >> present;
        CK_ULONG count = 0;
        CK_RV rv = C_GetSlotList(present ? CK_TRUE : CK_FALSE, nullptr, &count);
        std::vector<CK_SLOT_ID> ids(count + 1);
        if (rv == CKR_OK)
            rv = C_GetSlotList(present ? CK_TRUE : CK_FALSE, ids.data(), &count);
        out << rv << ' ' << count;
        for (CK_ULONG i = 0; rv == CKR_OK && i < count; ++i)
            out << ' ' << ids[i];
    } else if (command == "poll" || command == "wait") {
        CK_SLOT_ID slot = 0;
        const CK_RV rv = C_WaitForSlotEvent(command == "poll" ? CKF_DONT_BLOCK : 0, &slot, nullptr);
        out << rv << ' ' << slot;
    } else if (command == "open") {
        CK_SLOT_ID slot = 0;
        std::string mode;
        in >> slot >> mode;
        const CK_FLAGS flags = CKF_SERIAL_SESSION | (mode == "rw" ? CKF_RW_SESSION : 0);
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        out << C_OpenSession(slot, flags, nullptr, nullptr, &session) << ' ' << session;
    } else if (command == "login") {
        CK_SESSION_HANDLE session = 0;
        std::string who, pin;
        in >> session >> who >> pin;
        out << C_Login(session, who == "so" ? CKU_SO : CKU_USER,
                       reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size());
    } else if (command == "setpin") {
        CK_SESSION_HANDLE session = 0;
        std::string oldPin, newPin;
        in >> session >> oldPin >> newPin;
        out << C_SetPIN(session, reinterpret_cast<CK_UTF8CHAR_PTR>(oldPin.data()), oldPin.size(),
                        reinterpret_cast<CK_UTF8CHAR_PTR>(newPin.data()), newPin.size());
    } else if (command == "inittoken") {
        CK_SLOT_ID slot = 0;
        std::string pin;
        in >> slot >> pin;
        CK_UTF8CHAR label[32];
        std::fill(std::begin(label), std::end(label), ' ');
        std::copy_n("peer", 4, label);
        out << C_InitToken(slot, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size(), label);
    } else if (command == "logout") {
        CK_SESSION_HANDLE session = 0;
        in >> session;
        out << C_Logout(session);
    } else if (command == "state") {
        CK_SESSION_HANDLE session = 0;
        in >> session;
        CK_SESSION_INFO info{};
        const CK_RV rv = C_GetSessionInfo(session, &info);
        out << rv << ' ' << info.state;
    } else if (command == "pid") {
        out << 0 << ' ' << getpid();
    } else {
        out << CKR_FUNCTION_NOT_SUPPORTED;
    }
    return out.str();
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "exit")
            return 0;
        Answer(Run(line));
    }
    return 0;
}
