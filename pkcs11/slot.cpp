#include "pkcs11/slot.h"

#include "device/token5105_auto.h"
#include "device/token5105_hid.h"
#include "device/token_identity.h"
#include "pkcs11/shared_slot_table.h"
#include "runtime/fatal_assert.h"
#include "skf/skf_frame.h"

#include <cstring>

namespace keycore {

namespace {

// Fills a fixed-width text field with spaces and the text at its start; a text too long for the
// field leaves it untouched.
void PadCopyField(CK_UTF8CHAR* pField, size_t ulFieldSize, const std::string& text) {
    if (text.size() > ulFieldSize)
        return;
    std::memset(pField, ' ', ulFieldSize);
    std::memcpy(pField, text.data(), text.size());
}

} // namespace

std::string CSlot::SlotMutexName(CK_SLOT_ID slotId) {
    return std::string(kIpcNamePrefix) + "_5100gm_g2_slot_" + std::to_string(slotId) + "_mtx";
}

CSlot::CSlot(CK_SLOT_ID slotId, const std::string& deviceName, bool firstProcess)
    : m_slotId(slotId), m_bFirstProcess(firstProcess) {
    Reset(slotId, deviceName, firstProcess);
}

CSlot::~CSlot() {
    ClearObjects();
    if (m_pToken) {
        m_pToken->CloseDevice();
        ThreadMutexHolder hold(m_slotThreadMutex);
        m_pToken.reset();
    }
}

void CSlot::Reset(CK_SLOT_ID slotId, const std::string& deviceName, bool firstProcess) {
    m_slotId = slotId;
    m_deviceName = deviceName;
    m_bFirstProcess = firstProcess;
    m_bTokenPresent = false;
    m_bTokenReady = false;
    m_loginState = LoginState::Nobody;
    m_hNextSessionObject = kFirstSessionObjectHandle;
    WriteSlotInfo();
    m_creationTime = time(nullptr);
    m_bContainerListStale = true;
}

void CSlot::WriteSlotInfo() {
    std::memset(&m_slotInfo, 0, sizeof m_slotInfo);
    PadCopyField(m_slotInfo.slotDescription, sizeof m_slotInfo.slotDescription, m_deviceName);
    PadCopyField(m_slotInfo.manufacturerID, sizeof m_slotInfo.manufacturerID, kSlotManufacturer);
    m_slotInfo.flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    m_slotInfo.hardwareVersion = {1, 0};
    m_slotInfo.firmwareVersion = {1, 0};
}

CK_RV CSlot::EnsureSlotLock() {
    if (m_pSlotLock)
        return CKR_OK;
    auto lock = std::make_unique<CProcessMutex>();
    if (lock->OpenOrCreate(SlotMutexName(m_slotId)) != kIpcOk)
        return CKR_CANT_LOCK;
    m_pSlotLock = std::move(lock);
    return CKR_OK;
}

CK_RV CSlot::AttachToken(const std::string& devicePath, CK_ULONG deviceType) {
    m_devicePath = devicePath;
    m_ulDeviceType = deviceType;
    m_bTokenPresent = false;
    m_bTokenReady = false;

    if (EnsureSlotLock() != CKR_OK)
        return CKR_CANT_LOCK;
    CProcessMutexHolder slotLock(*m_pSlotLock);
    if (!slotLock.IsLocked())
        return CKR_CANT_LOCK;

    if (devicePath.empty())
        return CKR_TOKEN_NOT_PRESENT;
    std::unique_ptr<CTokenBase> token;
    if (deviceType == static_cast<CK_ULONG>(token_identity::kDeviceTypeHid))
        token = std::make_unique<CToken5105HID>(this, devicePath, m_bFirstProcess);
    else if (deviceType == static_cast<CK_ULONG>(token_identity::kDeviceTypeBulkOnly))
        token = std::make_unique<CToken5105Auto>(this, devicePath, m_bFirstProcess);
    else
        return CKR_HOST_MEMORY;

    CK_RV rv = token->OpenDevice();
    for (int retry = 0; rv != CKR_OK && retry < kOpenRetries; ++retry)
        rv = token->OpenDevice();
    if (rv != CKR_OK) {
        token->CloseDevice();
        return CKR_DEVICE_ERROR;
    }
    {
        // A token left from an earlier attach is replaced only under the slot thread mutex, so that
        // an Unlock running on another thread never sees it half gone.
        std::unique_ptr<CTokenBase> previous;
        {
            ThreadMutexHolder hold(m_slotThreadMutex);
            previous = std::move(m_pToken);
            m_pToken = std::move(token);
        }
        if (previous)
            previous->CloseDevice();
    }
    m_bTokenPresent = true;
    m_bTokenReady = true;
    m_containerNames.clear();
    m_tokenFileNames.clear();
    return CKR_OK;
}

void CSlot::DropToken(bool clearPresent) {
    {
        CSlotLockHolder lock(*this);
        if (clearPresent)
            m_bTokenPresent = false;
        m_bTokenReady = false;
        ClearObjects();
        m_loginState = LoginState::Nobody;
    }
    std::unique_ptr<CTokenBase> token;
    {
        ThreadMutexHolder hold(m_slotThreadMutex);
        token = std::move(m_pToken);
    }
    if (token)
        token->CloseDevice();
}

CK_RV CSlot::Lock() {
    if (!m_pSlotLock || m_pSlotLock->Lock() != kIpcOk)
        return CKR_CANT_LOCK;
    ThreadMutexHolder hold(m_slotThreadMutex);
    if (m_bTokenPresent && m_pToken && m_pToken->Lock() != CKR_OK) {
        m_pSlotLock->Unlock();
        return CKR_CANT_LOCK;
    }
    return CKR_OK;
}

void CSlot::Unlock() {
    {
        ThreadMutexHolder hold(m_slotThreadMutex);
        if (m_pToken)
            m_pToken->Unlock();
    }
    if (m_pSlotLock)
        m_pSlotLock->Unlock();
}

void CSlot::RemoveSlotLock() {
    if (m_pSlotLock)
        m_pSlotLock->Destroy();
    else
        CProcessMutex::Remove(SlotMutexName(m_slotId));
}

CK_RV CSlot::GetInfo(CK_SLOT_INFO_PTR pInfo) {
    KEYCORE_ASSERT(NULL != pInfo, "virtual CK_RV CSlot::GetInfo(CK_SLOT_INFO_PTR)");
    *pInfo = m_slotInfo;
    if (m_bTokenPresent)
        pInfo->flags |= CKF_TOKEN_PRESENT;
    return CKR_OK;
}

bool CSlot::IsDeviceName(const std::string& name) const {
    return !name.empty() && !m_deviceName.empty() && name == m_deviceName;
}

CK_RV CSlot::OnSlotEvent(KV_SLOT_EVENT& event) {
    KEYCORE_ASSERT(event.slotId == m_slotId, "virtual CK_RV CSlot::OnSlotEvent(KV_SLOT_EVENT&)");
    switch (event.ulEvent) {
    case kSlotEventArrival:
        m_bTokenPresent = true;
        break;
    case kSlotEventRemoval:
        // The first SKF device handle connected to this device goes with it.
        GMHandles::Table().RemoveByDevicePath(m_devicePath);
        m_bTokenPresent = false;
        break;
    case 0x109:
    case 0x112:
    case 6:
    case 7:
    case 9:
        Logout();
        break;
    case 0x10A: {
        const std::string path = m_devicePath;
        const CK_ULONG type = m_ulDeviceType;
        DropToken(false);
        AttachToken(path, type);
        break;
    }
    default:
        break;
    }
    return CKR_OK;
}

void CSlot::GetSessionState(bool bReadWrite, CK_SESSION_INFO& info) const {
    const LoginState login = m_loginState;
    if (bReadWrite) {
        info.flags |= CKF_RW_SESSION;
        info.state = login == LoginState::SO     ? CKS_RW_SO_FUNCTIONS
                     : login == LoginState::User ? CKS_RW_USER_FUNCTIONS
                                                 : CKS_RW_PUBLIC_SESSION;
    } else {
        info.state = login == LoginState::User ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION;
    }
}

CK_RV CSlot::Login(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    CTokenBase* token = m_pToken.get();
    if (token == nullptr)
        return CKR_TOKEN_NOT_RECOGNIZED;
    CK_TOKEN_INFO info{};
    const CK_RV infoRv = token->GetTokenInfo(&info);
    if (infoRv != CKR_OK)
        return infoRv;
    if (ulPinLen > info.ulMaxPinLen || ulPinLen < info.ulMinPinLen)
        return CKR_PIN_LEN_RANGE;
    CK_RV rv;
    switch (userType) {
    case CKU_USER:
    case CKU_CONTEXT_SPECIFIC:
        rv = token->Login(CKU_USER, pPin, ulPinLen);
        if (rv == CKR_OK && userType == CKU_USER)
            m_loginState = LoginState::User;
        return rv;
    case CKU_SO:
        rv = token->Login(CKU_SO, pPin, ulPinLen);
        if (rv == CKR_OK)
            m_loginState = LoginState::SO;
        return rv;
    default:
        return CKR_ARGUMENTS_BAD;
    }
}

void CSlot::Logout() {
    {
        // Other processes' events log out on the listener thread, so the exchange takes the slot
        // lock itself (it is recursive for entry points that already hold it).
        CSlotLockHolder lock(*this);
        if (lock.Result() == CKR_OK) {
            ThreadMutexHolder hold(m_slotThreadMutex);
            if (m_pToken && m_bTokenPresent)
                m_pToken->ClearSecureState(m_pToken->GetApplicationId());
        }
    }
    m_loginState = LoginState::Nobody;
}

CK_RV CSlot::InitToken(CK_ULONG ulOpenSessions, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) {
    (void)pPin;
    (void)ulPinLen;
    (void)pLabel;
    if (!m_pToken)
        return CKR_TOKEN_NOT_PRESENT;
    if (ulOpenSessions != 0)
        return CKR_SESSION_EXISTS;
    const CK_RV rv = m_pToken->Reserved5();
    if (rv != CKR_OK)
        return rv;
    ClearObjects();
    m_loginState = LoginState::Nobody;
    return CKR_OK;
}

std::shared_ptr<CP11ObjBase> CSlot::GetObject(CK_OBJECT_HANDLE hObject) const {
    const auto it = m_objects.find(hObject);
    return it == m_objects.end() ? nullptr : it->second;
}

bool CSlot::InsertObject(CK_OBJECT_HANDLE hObject, std::shared_ptr<CP11ObjBase> object) {
    m_objects.emplace(hObject, std::move(object));
    return true;
}

bool CSlot::RemoveObject(CK_OBJECT_HANDLE hObject) {
    return m_objects.erase(hObject) != 0;
}

void CSlot::ClearObjects() {
    m_objects.clear();
}

CK_RV CSlot::AllocateTokenHandle(bool bPrivate, CK_OBJECT_HANDLE* phObject) const {
    return PickTokenHandle(m_objects, bPrivate, phObject);
}

CK_OBJECT_HANDLE CSlot::AllocateSessionHandle() {
    return m_hNextSessionObject++;
}

CK_RV CSlot::PickTokenHandle(const ObjectMap& objects, bool bPrivate, CK_OBJECT_HANDLE* phObject) {
    if (phObject == nullptr)
        return CKR_ARGUMENTS_BAD;
    const CK_OBJECT_HANDLE first = bPrivate ? kFirstPrivateTokenHandle : kFirstPublicTokenHandle;
    const CK_OBJECT_HANDLE last = bPrivate ? kLastPrivateTokenHandle : kLastPublicTokenHandle;
    auto top = objects.upper_bound(last);
    if (top == objects.begin() || std::prev(top)->first < first) {
        *phObject = first;
        return CKR_OK;
    }
    const CK_OBJECT_HANDLE largest = std::prev(top)->first;
    if (largest < last) {
        *phObject = largest + 1;
        return CKR_OK;
    }
    CK_OBJECT_HANDLE candidate = first;
    for (auto it = objects.lower_bound(first); it != objects.end() && it->first <= last; ++it) {
        if (it->first != candidate)
            break;
        ++candidate;
    }
    if (candidate > last)
        return CKR_GENERAL_ERROR;
    *phObject = candidate;
    return CKR_OK;
}

} // namespace keycore
