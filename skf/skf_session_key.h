#pragma once
// Session-key handles and the other handle kinds the cipher, hash and MAC functions work on.
//
// Every family that obtains a session key from the token (plain key, wrapped import, RSA or SM2
// export, key agreement) makes its handle here, so that the cipher functions recognise it: a handle
// of another kind (device, application, container, hash, MAC) given to SKF_Encrypt is refused with
// SAR_INVALIDHANDLEERR, never used as a key.
//
// A session-key handle carries m_devName, m_appName, m_appId, m_conName, m_conId of the container
// the key lives in, m_keyId = the key index the token returned and m_algId = the algorithm identifier
// the caller gave (passed to the token unchanged). A key set on a device or an application without
// containers is "loose": m_conId = kNoContainerId and no container name; the cipher functions then use
// the command family that carries the IV in every command.

#include "skf/skf_frame.h"

#include <cstdint>
#include <memory>

namespace keycore {

class CSessionKeyHandle : public GMHandle {
public:
    enum class Operation : uint8_t { None, Encrypt, Decrypt };
    // The cipher operation started by the last init; None before the first init and after a final.
    // Read and written under the slot lock of the key's device.
    Operation m_operation = Operation::None;
};

// A digest running on the token of m_devName; m_algId is the caller's algorithm identifier.
class CHashHandle : public GMHandle {};

// A MAC over a session key: the key's fields, m_iv, m_padding and the 0 to 15 bytes not yet sent.
class CMacHandle : public GMHandle {};

// Gives a handle the device, application and container fields of another (the container a key,
// agreement or MAC works in).
void CopyContainerFields(const GMHandle& from, GMHandle* to);

// The session key made in a container: device, application and container fields are copied from the
// container handle. The handle is not yet in the table.
std::shared_ptr<CSessionKeyHandle> NewContainerSessionKey(const GMHandle& container, uint16_t keyIndex, ULONG algId);

// The same, put into the table at once; the value to hand to the caller.
HANDLE AddContainerSessionKey(const GMHandle& container, uint16_t keyIndex, ULONG algId);

// A loose key set on a device (origin = the device handle, m_appId 0) or on an application without
// containers (origin = the application handle).
std::shared_ptr<CSessionKeyHandle> NewLooseSessionKey(const GMHandle& origin, uint16_t keyIndex, ULONG algId);

// The handle of a value when it is of that kind; null for a value not in the table or of another kind.
std::shared_ptr<CSessionKeyHandle> FindSessionKey(const void* value);
std::shared_ptr<CHashHandle> FindHash(const void* value);
std::shared_ptr<CMacHandle> FindMac(const void* value);

inline bool IsLooseKey(const GMHandle& key) {
    return key.m_conId == kNoContainerId;
}

} // namespace keycore
