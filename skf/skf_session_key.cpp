// Session-key handles and the lookup of handles by kind.

#include "skf/skf_session_key.h"

namespace keycore {

namespace {

template <typename Kind> std::shared_ptr<Kind> FindKind(const void* value) {
    return std::dynamic_pointer_cast<Kind>(GMHandles::Table().Find(value));
}

} // namespace

void CopyContainerFields(const GMHandle& from, GMHandle* to) {
    to->m_devName = from.m_devName;
    to->m_appName = from.m_appName;
    to->m_appId = from.m_appId;
    to->m_conName = from.m_conName;
    to->m_conId = from.m_conId;
}

std::shared_ptr<CSessionKeyHandle> NewContainerSessionKey(const GMHandle& container, uint16_t keyIndex, ULONG algId) {
    auto key = std::make_shared<CSessionKeyHandle>();
    CopyContainerFields(container, key.get());
    key->m_keyId = keyIndex;
    key->m_algId = algId;
    return key;
}

HANDLE AddContainerSessionKey(const GMHandle& container, uint16_t keyIndex, ULONG algId) {
    return GMHandles::Table().Add(NewContainerSessionKey(container, keyIndex, algId));
}

std::shared_ptr<CSessionKeyHandle> NewLooseSessionKey(const GMHandle& origin, uint16_t keyIndex, ULONG algId) {
    auto key = std::make_shared<CSessionKeyHandle>();
    key->m_devName = origin.m_devName;
    key->m_appName = origin.m_appName;
    key->m_appId = origin.m_appId;
    key->m_conId = kNoContainerId;
    key->m_keyId = keyIndex;
    key->m_algId = algId;
    return key;
}

std::shared_ptr<CSessionKeyHandle> FindSessionKey(const void* value) {
    return FindKind<CSessionKeyHandle>(value);
}

std::shared_ptr<CHashHandle> FindHash(const void* value) {
    return FindKind<CHashHandle>(value);
}

std::shared_ptr<CMacHandle> FindMac(const void* value) {
    return FindKind<CMacHandle>(value);
}

} // namespace keycore
