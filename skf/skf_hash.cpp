// Digests on the token: SM3 (with the SM2 preprocessing value when a public key and an identifier are
// given), SHA-1 and SHA-256. The token keeps one digest state per device.

#include "skf/skf_answer.h"
#include "skf/skf_cipher.h"
#include "skf/skf_cipher_blocks.h"
#include "skf/skf_storage.h"

#include <algorithm>
#include <cstring>

namespace keycore {

namespace {

constexpr size_t kEccHalf = 32;
constexpr size_t kLargestDigest = 64;

ULONG SarFromDigestStatus(TokenStatus status) {
    return TranslateWith(status, {{kSwSuccess, SAR_OK},
                                  {0x6982, SAR_USER_NOT_LOGGED_IN},
                                  {0x6A88, SAR_OBJERR},
                                  {0x6A8C, SAR_KEYNOTFOUNTERR},
                                  {0x6A94, SAR_FILE_NOT_EXIST},
                                  {0x6A9D, SAR_INVALIDPARAMERR}});
}

// 0 for an algorithm whose digest size is not known.
size_t DigestSize(uint64_t algId) {
    switch (algId) {
    case SGD_SM3:
    case SGD_SHA256:
        return 32;
    case SGD_SHA1:
        return 20;
    default:
        return 0;
    }
}

template <typename Body> ULONG WithHash(HANDLE hHash, Body body) {
    return WithKindSlot(FindHash(hHash), SAR_INVALIDHANDLEERR, body);
}

ULONG SendDigestPieces(SkfSlotUse& use, const unsigned char* pbData, size_t len) {
    for (size_t offset = 0; offset < len; offset += kDigestPiece) {
        const size_t piece = std::min(kDigestPiece, len - offset);
        const TokenStatus status = use.token.DigestUpdate(pbData + offset, piece);
        if (status != kSwSuccess)
            return SarFromDigestStatus(status);
    }
    return SAR_OK;
}

// The digest into pbHash, which holds size bytes.
ULONG FinishDigest(SkfSlotUse& use, size_t size, unsigned char* pbHash) {
    unsigned char digest[kLargestDigest] = {};
    CK_ULONG digestLen = size;
    const TokenStatus status = use.token.DigestFinal(nullptr, 0, static_cast<uint16_t>(size), digest, &digestLen);
    if (status != kSwSuccess)
        return SarFromDigestStatus(status);
    if (digestLen != size)
        return SAR_FAIL;
    std::memcpy(pbHash, digest, size);
    return SAR_OK;
}

// The end SKF_Digest and SKF_DigestFinal share: the caller's room is checked before anything goes to
// the token, then the data not yet sent (none for the final alone) and the final.
ULONG DigestIntoCaller(SkfSlotUse& use, const CHashHandle& hash, const BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData,
                       ULONG* pulHashLen) {
    const size_t size = DigestSize(hash.m_algId);
    if (size == 0)
        return SAR_OBJERR;
    ULONG early = SAR_OK;
    if (AnsweredWithLength(pbHashData, pulHashLen, size, &early))
        return early;
    if (ulDataLen != 0) {
        const ULONG sent = SendDigestPieces(use, pbData, ulDataLen);
        if (sent != SAR_OK)
            return sent;
    }
    const ULONG rv = FinishDigest(use, size, pbHashData);
    if (rv == SAR_OK)
        *pulHashLen = static_cast<ULONG>(size);
    return rv;
}

} // namespace

ULONG SkfDigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, BYTE* pbID, ULONG ulIDLen,
                    HANDLE* phHash) {
    if (hDev == nullptr || phHash == nullptr)
        return SAR_INVALIDPARAMERR;
    const bool withZa = pPubKey != nullptr && pbID != nullptr && ulIDLen != 0;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        const uint8_t alg = static_cast<uint8_t>(ulAlgID & 0xFF);
        const TokenStatus status = withZa ? use.token.DigestInit(alg, pPubKey->XCoordinate + kEccHalf,
                                                                 pPubKey->YCoordinate + kEccHalf, pbID, ulIDLen)
                                          : use.token.DigestInit(alg, nullptr, nullptr, nullptr, 0);
        const ULONG rv = SarFromDigestStatus(status);
        if (rv != SAR_OK)
            return rv;
        auto hash = std::make_shared<CHashHandle>();
        hash->m_devName = use.handle.m_devName;
        hash->m_algId = ulAlgID;
        *phHash = GMHandles::Table().Add(std::move(hash));
        return SAR_OK;
    });
}

ULONG SkfDigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    if (hHash == nullptr || (pbData == nullptr && ulDataLen != 0))
        return SAR_INVALIDPARAMERR;
    return WithHash(hHash, [&](SkfSlotUse& use, CHashHandle&) -> ULONG {
        if (ulDataLen == 0)
            return SAR_FAIL;
        return SendDigestPieces(use, pbData, ulDataLen);
    });
}

ULONG SkfDigestFinal(HANDLE hHash, BYTE* pbHashData, ULONG* pulHashLen) {
    if (hHash == nullptr || pulHashLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHash(hHash, [&](SkfSlotUse& use, CHashHandle& hash) {
        return DigestIntoCaller(use, hash, nullptr, 0, pbHashData, pulHashLen);
    });
}

ULONG SkfDigest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData, ULONG* pulHashLen) {
    if (hHash == nullptr || pbData == nullptr || ulDataLen == 0 || pulHashLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHash(hHash, [&](SkfSlotUse& use, CHashHandle& hash) {
        return DigestIntoCaller(use, hash, pbData, ulDataLen, pbHashData, pulHashLen);
    });
}

} // namespace keycore
