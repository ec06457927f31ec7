// Session-key handles and the lookup of handles by kind.

#include "skf/skf_session_key.h"

namespace keycore {

namespace {

template <typename Kind> std::shared_ptr<Kind> FindKind(const void* value) {
    return std::dynamic_pointer_cast<Kind>(GMHandles::Table().Find(value));
}

} // namespace

std::shared_ptr<CSessionKeyHandle> NewContainerSessionKey(const GMHandle& container, uint16_t keyIndex, ULONG algId) {
    auto key = std::make_shared<CSessionKeyHandle>();
    key->m_devName = container.m_devName;
    key->m_appName = container.m_appName;
    key->m_appId = container.m_appId;
    key->m_conName = container.m_conName;
    key->m_conId = container.m_conId;
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
