#include "dev_mgr.h"

#include <openssl/objects.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kInstalledLibrary[] = "/opt/apps/com.tolvik.orvex5100gm-g/files/lib/libkeycore.so";
constexpr char kLibraryName[] = "libkeycore.so";

// The path of libkeycore.so beside the running executable (empty when the executable cannot be read).
std::string libraryBesideExecutable() {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
    char exe[4096] = {};
    const ssize_t len = readlink(link, exe, sizeof exe - 1);
    if (len <= 0)
        return std::string();
    std::string path(exe, static_cast<size_t>(len));
    path.erase(path.rfind('/') + 1);
    return path + kLibraryName;
}

// A name list as the SKF enumerations return it: zero-terminated names ended by an empty name. The
// buffer carries two zero bytes beyond the reported length, so a list that the library did not end
// properly still ends inside it.
std::vector<char> nameListBuffer(ULONG len) {
    return std::vector<char>(static_cast<size_t>(len) + 2, '\0');
}

} // namespace

cDevMgr* cDevMgr::getInst() {
    static cDevMgr* instance = new cDevMgr;
    return instance;
}

int cDevMgr::Initialize() {
    if (IsLoaded())
        return 0;
    auto skf = std::make_unique<CGMSKFOperator>();
    if (skf->LoadSKFAPI(const_cast<char*>(kInstalledLibrary)) != 0) {
        const std::string beside = libraryBesideExecutable();
        if (beside.empty() || skf->LoadSKFAPI(const_cast<char*>(beside.c_str())) != 0)
            return -1;
    }
    m_pSkf.store(skf.release());
    return 0;
}

int cDevMgr::InitializeFrom(const char* libraryPath) {
    if (IsLoaded())
        return 0;
    if (libraryPath == nullptr)
        return -1;
    auto skf = std::make_unique<CGMSKFOperator>();
    if (skf->LoadSKFAPI(const_cast<char*>(libraryPath)) != 0)
        return -1;
    m_pSkf.store(skf.release());
    return 0;
}

ULONG cDevMgr::WaitForDevEvent(char* name, unsigned* len, unsigned* event) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_WaitForDevEvent(name, len, event) : kSkfNotBound;
}

int cDevMgr::SetEvent(unsigned event) {
    m_ulEvent.store(event);
    return 0;
}

int cDevMgr::SetDevName(const char* name) {
    std::memset(m_szDevName, 0, sizeof m_szDevName);
    if (name != nullptr)
        std::strncpy(m_szDevName, name, sizeof m_szDevName - 1);
    return 0;
}

ULONG cDevMgr::ConnectDev(char* name) {
    if (name == nullptr)
        return SAR_INVALIDPARAMERR;
    CGMSKFOperator* skf = m_pSkf.load();
    if (skf == nullptr)
        return kSkfNotBound;
    m_hDev = nullptr;
    m_hApp = nullptr;
    m_hCon = nullptr;
    return skf->SKF_ConnectDev(name, &m_hDev);
}

ULONG cDevMgr::getDevInfo(char* name, Struct_DEVINFO* info) {
    if (name == nullptr || name[0] == '\0')
        return SAR_INVALIDPARAMERR;
    CGMSKFOperator* skf = m_pSkf.load();
    if (skf == nullptr)
        return kSkfNotBound;
    ULONG len = 0;
    ULONG rv = skf->SKF_EnumDev(TRUE, nullptr, &len);
    if (rv != SAR_OK)
        return rv;
    std::vector<char> list = nameListBuffer(len);
    rv = skf->SKF_EnumDev(TRUE, list.data(), &len);
    if (rv != SAR_OK)
        return rv;
    // A second answer longer than the first would not fit; read only what the buffer holds.
    const size_t end = list.size() - 2;
    for (size_t pos = 0; pos < end && list[pos] != '\0';) {
        const char* entry = list.data() + pos;
        const size_t entryLen = std::strlen(entry);
        if (std::strncmp(entry, name, entryLen) == 0) {
            rv = skf->SKF_ConnectDev(name, &m_hDev);
            if (rv != SAR_OK)
                return rv;
            return skf->SKF_GetDevInfo(m_hDev, info);
        }
        pos += entryLen + 1;
    }
    return SAR_INVALIDPARAMERR;
}

ULONG cDevMgr::EnumDev(int present, char* buf, unsigned* len) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_EnumDev(present, buf, len) : kSkfNotBound;
}

ULONG cDevMgr::EnumApplication(char* buf, unsigned* len) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_EnumApplication(m_hDev, buf, len) : kSkfNotBound;
}

ULONG cDevMgr::OpenApplication(char* name) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_OpenApplication(m_hDev, name, &m_hApp) : kSkfNotBound;
}

ULONG cDevMgr::EnumContainer(char* buf, unsigned* len) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_EnumContainer(m_hApp, buf, len) : kSkfNotBound;
}

ULONG cDevMgr::OpenContainer(char* name) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_OpenContainer(m_hApp, name, &m_hCon) : kSkfNotBound;
}

ULONG cDevMgr::GetContainerInfo(Struct_ContainerInfo* info) {
    CGMSKFOperator* skf = m_pSkf.load();
    if (skf == nullptr)
        return kSkfNotBound;
    ULONG type = kContainerEmpty;
    const ULONG rv = skf->SKF_GetContainerType(m_hCon, &type);
    if (info != nullptr)
        info->ulContainerType = type;
    return rv;
}

ULONG cDevMgr::DeleteContainer(char* name) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_DeleteContainer(m_hApp, name) : kSkfNotBound;
}

ULONG cDevMgr::ExportCertificate(int sign, unsigned char* buf, unsigned* len) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_ExportCertificate(m_hCon, sign, buf, len) : kSkfNotBound;
}

ULONG cDevMgr::ExportPublicKey(int sign, unsigned char* buf, unsigned* len) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_ExportPublicKey(m_hCon, sign, buf, len) : kSkfNotBound;
}

ULONG cDevMgr::GetPINInfo(unsigned type, unsigned* maxRetry, unsigned* remainRetry, int* isDefault) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_GetPINInfo(m_hApp, type, maxRetry, remainRetry, isDefault) : kSkfNotBound;
}

ULONG cDevMgr::SetDevLabel(char* label, unsigned /*len*/) {
    if (label == nullptr)
        return SAR_INVALIDPARAMERR;
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_SetLabel(m_hDev, label) : kSkfNotBound;
}

ULONG cDevMgr::VerifyPIN(unsigned type, char* pin, unsigned* retry) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_VerifyPIN(m_hApp, type, pin, retry) : kSkfNotBound;
}

ULONG cDevMgr::ChangePIN(unsigned type, char* oldPin, char* newPin, unsigned* retry) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_ChangePIN(m_hApp, type, oldPin, newPin, retry) : kSkfNotBound;
}

ULONG cDevMgr::UnblockPIN(char* soPin, char* newUserPin, unsigned* retry) {
    CGMSKFOperator* skf = m_pSkf.load();
    return skf != nullptr ? skf->SKF_UnblockPIN(m_hApp, soPin, newUserPin, retry) : kSkfNotBound;
}

int cDevMgr::getCertName(unsigned sign, char* dst) {
    if (dst == nullptr)
        return -1;
    const int usage = static_cast<int>(sign & 0xFFu);
    unsigned len = 0;
    if (ExportCertificate(usage, nullptr, &len) != SAR_OK || len == 0)
        return -1;
    std::vector<unsigned char> der(static_cast<size_t>(len) + 1, 0);
    if (ExportCertificate(usage, der.data(), &len) != SAR_OK)
        return -1;
    // The second answer may not claim more than the buffer holds.
    if (len > der.size() - 1)
        return -1;
    const unsigned char* cursor = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &cursor, static_cast<long>(len)), X509_free);
    if (!cert)
        return -1;
    getX509Name(X509_get_subject_name(cert.get()), dst);
    return 0;
}

int cDevMgr::getX509Name(X509_NAME* name, char* dst) {
    if (name == nullptr || dst == nullptr)
        return 0;
    const int count = X509_NAME_entry_count(name);
    for (int i = 0; i < count; ++i) {
        X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        if (entry == nullptr)
            return 0;
        ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
        if (object == nullptr)
            return 0;
        if (OBJ_obj2nid(object) != NID_commonName)
            continue;
        ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
        if (value == nullptr)
            return 0;
        // A name longer than the field is cut so that it stays terminated.
        const int valueLen = ASN1_STRING_length(value);
        const size_t copy = valueLen > 0 ? std::min<size_t>(static_cast<size_t>(valueLen), kCertNameSize - 1) : 0;
        std::memcpy(dst, ASN1_STRING_get0_data(value), copy);
        dst[copy] = '\0';
    }
    return 1;
}
