#pragma once
// The manager's one device manager: loads the SKF library, remembers the current device, application
// and container handles, the last device event and the current device name, and offers the operations
// the windows use. Every operation that reaches the library fails with kSkfNotBound while no library
// is loaded.

#include "gm_skf_operator.h"
#include "skf_types.h"

#include <openssl/x509.h>

#include <atomic>

class cDevMgr {
public:
    static cDevMgr* getInst();

    static constexpr int kDevNameSize = 64;
    // getCertName writes at most this many bytes, terminator included.
    static constexpr int kCertNameSize = 128;

    // Loads the library from the installed path, else from beside the running executable. 0, or -1.
    int Initialize();
    // Loads the library at that path (the second step of Initialize, for a library elsewhere). 0, or -1.
    int InitializeFrom(const char* libraryPath);
    bool IsLoaded() const { return m_pSkf.load() != nullptr; }

    ULONG WaitForDevEvent(char* name, unsigned* len, unsigned* event);
    unsigned GetEvent() const { return m_ulEvent.load(); }
    int SetEvent(unsigned event);
    const char* GetDevName() const { return m_szDevName; }
    int SetDevName(const char* name);

    ULONG ConnectDev(char* name);
    ULONG getDevInfo(char* name, Struct_DEVINFO* info);
    ULONG EnumDev(int present, char* buf, unsigned* len);
    ULONG EnumApplication(char* buf, unsigned* len);
    ULONG OpenApplication(char* name);
    ULONG EnumContainer(char* buf, unsigned* len);
    ULONG OpenContainer(char* name);
    ULONG GetContainerInfo(Struct_ContainerInfo* info);
    ULONG DeleteContainer(char* name);
    ULONG ExportCertificate(int sign, unsigned char* buf, unsigned* len);
    ULONG ExportPublicKey(int sign, unsigned char* buf, unsigned* len);
    ULONG GetPINInfo(unsigned type, unsigned* maxRetry, unsigned* remainRetry, int* isDefault);
    ULONG SetDevLabel(char* label, unsigned len);
    ULONG VerifyPIN(unsigned type, char* pin, unsigned* retry);
    ULONG ChangePIN(unsigned type, char* oldPin, char* newPin, unsigned* retry);
    ULONG UnblockPIN(char* soPin, char* newUserPin, unsigned* retry);

    // Subject common name of the current container's certificate (sign: low 8 bits) into dst, which
    // holds kCertNameSize bytes. 0, or -1.
    int getCertName(unsigned sign, char* dst);
    // Copies the last commonName of the name into dst (kCertNameSize bytes, always terminated).
    // 1, or 0 when an entry cannot be read.
    static int getX509Name(X509_NAME* name, char* dst);

    // The operator, for callers that need an SKF function of their own (null while nothing is loaded).
    CGMSKFOperator* skf() const { return m_pSkf.load(); }

private:
    cDevMgr() = default;

    // Set once by the device thread, read by the GUI thread.
    std::atomic<CGMSKFOperator*> m_pSkf{nullptr};
    DEVHANDLE m_hDev = nullptr;
    HAPPLICATION m_hApp = nullptr;
    HCONTAINER m_hCon = nullptr;
    std::atomic<unsigned> m_ulEvent{0};
    char m_szDevName[kDevNameSize] = {};
};
