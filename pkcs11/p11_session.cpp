#include "pkcs11/p11_session.h"

#include "pkcs11/slot_mgr.h"

#include <cstdint>
#include <ctime>
#include <random>
#include <vector>

namespace keycore {

namespace {

constexpr CK_SESSION_HANDLE kHandleMask = 0x6F81AF86;

// The salt is a number below 100 drawn from a generator seeded with the time. A generator of our own
// keeps the host program's rand() sequence out of it.
uint32_t DrawHandleSalt() {
    thread_local std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    return static_cast<uint32_t>(generator() % 100);
}

} // namespace

CSession::CSession(CK_SLOT_ID slotId, bool readWrite)
    : m_slotId(slotId), m_readWrite(readWrite), m_handleSalt(DrawHandleSalt()) {}

CSession::~CSession() = default;

CK_SESSION_HANDLE CSession::Handle() const {
    return (static_cast<CK_SESSION_HANDLE>(reinterpret_cast<uintptr_t>(this)) ^ kHandleMask) + m_handleSalt;
}

CP11Session::CP11Session(CSlotManager& slots, CK_SLOT_ID slotId, bool readWrite)
    : CSession(slotId, readWrite), m_slots(slots) {}

CP11Session::~CP11Session() = default;

CK_RV CP11Session::GetSessionInfo(CK_SESSION_INFO_PTR pInfo) {
    if (pInfo == nullptr)
        return CKR_ARGUMENTS_BAD;
    CSlot* slot = m_slots.GetSlot(GetSlotId());
    if (slot == nullptr)
        return CKR_TOKEN_NOT_PRESENT;
    pInfo->slotID = GetSlotId();
    pInfo->ulDeviceError = 0;
    pInfo->flags = CKF_SERIAL_SESSION;
    slot->GetSessionState(IsReadWrite(), *pInfo);
    return CKR_OK;
}

CTokenBase* CP11Session::GetToken() {
    CSlot* slot = m_slots.GetSlot(GetSlotId());
    return slot == nullptr ? nullptr : slot->GetToken();
}

CP11SessionManager::CP11SessionManager(CSlotManager& slots) : m_slots(slots) {}

CP11SessionManager::~CP11SessionManager() {
    DeleteAllSessions();
}

CK_RV CP11SessionManager::Initialize() {
    return CKR_OK;
}

CK_RV CP11SessionManager::CreateSession(CK_SLOT_ID slotId, CK_FLAGS flags, CK_SESSION_HANDLE_PTR phSession) {
    if (phSession == nullptr)
        return CKR_ARGUMENTS_BAD;
    auto session = std::make_unique<CP11Session>(m_slots, slotId, (flags & CKF_RW_SESSION) != 0);
    ThreadMutexHolder holder(m_mutex);
    // The formula may land on a live session's handle (or on CK_INVALID_HANDLE); the salt moves on
    // until the handle is free, and Handle() keeps giving that value afterwards.
    while (session->Handle() == CK_INVALID_HANDLE || m_sessions.count(session->Handle()) != 0)
        session->BumpHandleSalt();
    const CK_SESSION_HANDLE handle = session->Handle();
    m_sessions.emplace(handle, std::move(session));
    *phSession = handle;
    return CKR_OK;
}

CP11Session* CP11SessionManager::FindSession(CK_SESSION_HANDLE hSession) {
    ThreadMutexHolder holder(m_mutex);
    auto found = m_sessions.find(hSession);
    return found == m_sessions.end() ? nullptr : found->second.get();
}

CK_RV CP11SessionManager::CloseSession(CK_SESSION_HANDLE hSession) {
    std::unique_ptr<CP11Session> closed;
    bool lastOfSlot = false;
    {
        ThreadMutexHolder holder(m_mutex);
        auto found = m_sessions.find(hSession);
        if (found == m_sessions.end())
            return CKR_SESSION_HANDLE_INVALID;
        closed = std::move(found->second);
        m_sessions.erase(found);
        lastOfSlot = CountSessions(closed->GetSlotId()) == 0;
    }
    const CK_SLOT_ID slotId = closed->GetSlotId();
    closed.reset();
    return lastOfSlot ? LeaveSlot(slotId) : CKR_OK;
}

CK_RV CP11SessionManager::CloseAllSessions(CK_SLOT_ID slotId) {
    std::vector<std::unique_ptr<CP11Session>> closed;
    {
        ThreadMutexHolder holder(m_mutex);
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (it->second->GetSlotId() == slotId) {
                closed.push_back(std::move(it->second));
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
    }
    closed.clear();
    return LeaveSlot(slotId);
}

void CP11SessionManager::DeleteAllSessions() {
    std::map<CK_SESSION_HANDLE, std::unique_ptr<CP11Session>> all;
    {
        ThreadMutexHolder holder(m_mutex);
        all.swap(m_sessions);
    }
}

CK_ULONG CP11SessionManager::CountSessions(CK_SLOT_ID slotId) {
    ThreadMutexHolder holder(m_mutex);
    CK_ULONG count = 0;
    for (const auto& entry : m_sessions)
        count += entry.second->GetSlotId() == slotId ? 1 : 0;
    return count;
}

CK_ULONG CP11SessionManager::CountRWSessions(CK_SLOT_ID slotId) {
    ThreadMutexHolder holder(m_mutex);
    CK_ULONG count = 0;
    for (const auto& entry : m_sessions)
        count += entry.second->GetSlotId() == slotId && entry.second->IsReadWrite() ? 1 : 0;
    return count;
}

bool CP11SessionManager::HasROSession(CK_SLOT_ID slotId) {
    ThreadMutexHolder holder(m_mutex);
    for (const auto& entry : m_sessions) {
        if (entry.second->GetSlotId() == slotId && !entry.second->IsReadWrite())
            return true;
    }
    return false;
}

// The slot has no session of this process left: its login ends here. Session objects belong to
// the slot's cache and go with it once the object store is built on top of the slot.
CK_RV CP11SessionManager::LeaveSlot(CK_SLOT_ID slotId) {
    CSlot* slot = m_slots.GetSlot(slotId);
    if (slot == nullptr)
        return CKR_GENERAL_ERROR;
    // The log-out talks to the token, which needs the slot lock like any other device traffic.
    CSlotLockHolder lock(*slot);
    slot->Logout();
    return CKR_OK;
}

} // namespace keycore
