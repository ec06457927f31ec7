#pragma once
// PKCS#11 sessions and the per-process table that owns them.

#include "runtime/thread_mutex.h"

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <map>
#include <memory>

namespace keycore {

class CSlotManager;
class CTokenBase;

// Operation flags of a session: 1 is a running object search, the others are the cryptographic
// operations under way.
inline constexpr CK_ULONG kSessionOpSearch = 0x01;
inline constexpr CK_ULONG kSessionOpDigest = 0x02;
inline constexpr CK_ULONG kSessionOpEncrypt = 0x04;
inline constexpr CK_ULONG kSessionOpDecrypt = 0x08;
inline constexpr CK_ULONG kSessionOpSign = 0x10;
inline constexpr CK_ULONG kSessionOpVerify = 0x20;
inline constexpr CK_ULONG kSessionOpOther = 0x40;

// What every session records: its slot, whether it may write, the salt of its handle and the
// operations under way. Login state is the slot's, not the session's.
class CSession {
public:
    CSession(CK_SLOT_ID slotId, bool readWrite);
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;
    virtual ~CSession();

    CK_SLOT_ID GetSlotId() const { return m_slotId; }
    bool IsReadWrite() const { return m_readWrite; }

    // The session handle: (address XOR 0x6F81AF86) + salt. The manager bumps the salt when that
    // value is taken already, so that no two live sessions ever share a handle.
    CK_SESSION_HANDLE Handle() const;
    uint32_t GetHandleSalt() const { return m_handleSalt; }
    void BumpHandleSalt() { ++m_handleSalt; }

    bool IsReauthenticated() const { return m_reauthenticated; }
    void SetReauthenticated(bool reauthenticated) { m_reauthenticated = reauthenticated; }

    CK_ULONG GetOperationFlags() const { return m_operations; }
    void SetOperation(CK_ULONG flag) { m_operations |= flag; }
    void ClearOperation(CK_ULONG flag) { m_operations &= ~flag; }

private:
    const CK_SLOT_ID m_slotId;
    const bool m_readWrite;
    uint32_t m_handleSalt;
    bool m_reauthenticated = false;
    CK_ULONG m_operations = 0;
};

// A session of the PKCS#11 interface; the cryptographic operation state joins it later.
class CP11Session : public CSession {
public:
    CP11Session(CSlotManager& slots, CK_SLOT_ID slotId, bool readWrite);
    ~CP11Session() override;

    // Slot, flags and state by the slot's login state. CKR_ARGUMENTS_BAD for NULL,
    // CKR_TOKEN_NOT_PRESENT when the slot is gone.
    CK_RV GetSessionInfo(CK_SESSION_INFO_PTR pInfo);
    // The token of the session's slot, or null.
    CTokenBase* GetToken();

private:
    CSlotManager& m_slots;
};

// Owns every open session of the process, by handle. The table has a lock of its own: sessions are
// opened and closed from any thread, and the slot locks taken around most calls differ per slot.
// A session found here stays valid until it is closed; closing one while another thread still uses
// it is the caller's fault, as the standard says.
class CP11SessionManager {
public:
    explicit CP11SessionManager(CSlotManager& slots);
    CP11SessionManager(const CP11SessionManager&) = delete;
    CP11SessionManager& operator=(const CP11SessionManager&) = delete;
    virtual ~CP11SessionManager();

    // Nothing to prepare; always CKR_OK.
    CK_RV Initialize();

    // Makes a session (read/write from CKF_RW_SESSION), stores it under a handle no live session has
    // and writes that handle.
    CK_RV CreateSession(CK_SLOT_ID slotId, CK_FLAGS flags, CK_SESSION_HANDLE_PTR phSession);
    CP11Session* FindSession(CK_SESSION_HANDLE hSession);

    // CKR_SESSION_HANDLE_INVALID for an unknown handle. Closing the last session of a slot drops the
    // slot's session objects and logs the process out of it; that log-out's result is returned.
    CK_RV CloseSession(CK_SESSION_HANDLE hSession);
    // Closes every session of the slot, then drops its session objects and logs out.
    CK_RV CloseAllSessions(CK_SLOT_ID slotId);
    // Deletes every session without touching the slots (teardown).
    void DeleteAllSessions();

    CK_ULONG CountSessions(CK_SLOT_ID slotId);
    CK_ULONG CountRWSessions(CK_SLOT_ID slotId);
    bool HasROSession(CK_SLOT_ID slotId);

private:
    CK_RV LeaveSlot(CK_SLOT_ID slotId);

    CSlotManager& m_slots;
    ThreadMutex m_mutex;
    std::map<CK_SESSION_HANDLE, std::unique_ptr<CP11Session>> m_sessions;
};

} // namespace keycore
