// RSA with a container's key pairs: generation, the wrapped import, signatures and the export of a
// session key under a caller's public key. Every command runs in the re-select loop; the tables map
// the status words each function knows and give SAR_FAIL for the rest.

#include "skf/skf_answer.h"
#include "skf/skf_rsa.h"
#include "skf/skf_rsa_blob.h"
#include "skf/skf_rsa_padding.h"
#include "skf/skf_session_key.h"
#include "skf/skf_storage.h"

#include <cstring>
#include <functional>
#include <initializer_list>
#include <typeinfo>
#include <vector>

namespace keycore {

namespace {

// The container-information answer: type (4), signing and exchange key bits (2 each, big-endian),
// two certificate flags and a reserved byte.
constexpr size_t kContainerInfoSize = 11;
constexpr size_t kSigningBitsOffset = 4;
constexpr size_t kImport2048Threshold = 700;

// A container handle is the plain kind that the container functions create; a session key, hash or
// MAC carries the same container fields but is not one.
bool IsContainerHandle(const GMHandle& handle) {
    return typeid(handle) == typeid(GMHandle) && !handle.m_conName.empty();
}

template <typename Operation> ULONG WithContainer(HCONTAINER hContainer, Operation operation) {
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        if (!IsContainerHandle(use.handle))
            return SAR_INVALIDHANDLEERR;
        return operation(use);
    });
}

// Runs a command on a container key with both recoveries; *pStatus is the status to translate when
// the result is SAR_OK.
ULONG RunContainerCommand(SkfSlotUse& use, const std::function<TokenStatus()>& command, TokenStatus* pStatus) {
    ULONG loop = SAR_OK;
    *pStatus = RunWithReselect(use, {kSwApplicationNotSelected}, true, command, &loop);
    return loop;
}

// An answer of a container command; every attempt of the re-select loop starts with the whole room.
struct CommandAnswer {
    explicit CommandAnswer(size_t room) : bytes(room) {}
    std::vector<uint8_t> bytes;
    CK_ULONG len = 0;
    TokenStatus status = kSwSuccess;
};

ULONG RunForAnswer(SkfSlotUse& use, CommandAnswer* answer,
                   const std::function<TokenStatus(uint8_t*, CK_ULONG*)>& command) {
    return RunContainerCommand(
        use,
        [&] {
            answer->len = answer->bytes.size();
            return command(answer->bytes.data(), &answer->len);
        },
        &answer->status);
}

// The signing key's size in bits, read from the container information.
ULONG SigningKeyBits(SkfSlotUse& use, ULONG* pBits) {
    unsigned char info[kContainerInfoSize] = {};
    CK_ULONG infoLen = 0;
    ULONG loop = SAR_OK;
    const TokenStatus status = RunWithReselect(
        use, {kSwApplicationNotSelected}, false,
        [&] {
            infoLen = sizeof info;
            return use.token.GetContainerInfo(AppIdOf(use), use.handle.m_conName.c_str(), info, &infoLen);
        },
        &loop);
    if (loop != SAR_OK)
        return loop;
    if (status != kSwSuccess)
        return TranslateWith(status, {{0x6A88, SAR_OBJERR}, {0x6A91, SAR_FILE_NOT_EXIST}});
    if (infoLen < kSigningBitsOffset + 2)
        return SAR_FAIL;
    *pBits = static_cast<ULONG>(info[kSigningBitsOffset] << 8 | info[kSigningBitsOffset + 1]);
    return SAR_OK;
}

} // namespace

ULONG SkfGenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob) {
    if (hContainer == nullptr)
        return SAR_INVALIDPARAMERR;
    // Which sizes the token generates is its own matter; a size whose numbers overflow the blob is not sent.
    if (!rsa_blob::BitsFitBlob(ulBitsLen))
        return SAR_INVALIDPARAMERR;
    return WithContainer(hContainer, [&](SkfSlotUse& use) -> ULONG {
        CommandAnswer answer(rsa_blob::kPublicKeyAnswerMax);
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.GenRsaKeyPair(AppIdOf(use), ConIdOf(use), static_cast<uint16_t>(ulBitsLen), out, outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (answer.status != kSwSuccess)
            return SarFromKeyStatus(answer.status, kKeyPairStatuses);
        RSAPUBLICKEYBLOB blob;
        if (!rsa_blob::PublicBlobFromAnswer(answer.bytes.data(), answer.len, ulBitsLen, &blob))
            return SAR_FAIL;
        if (pBlob != nullptr)
            std::memcpy(pBlob, &blob, sizeof blob);
        return SAR_OK;
    });
}

ULONG SkfImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                          BYTE* pbEncryptedData, ULONG ulEncryptedDataLen) {
    if (hContainer == nullptr || ulSymAlgId == 0 || pbWrappedKey == nullptr || ulWrappedKeyLen == 0 ||
        pbEncryptedData == nullptr || ulEncryptedDataLen == 0)
        return SAR_INVALIDPARAMERR;
    // An encrypted 2048-bit pair needs well over 700 bytes; a 1024-bit pair stays below.
    const uint32_t bits = ulEncryptedDataLen >= kImport2048Threshold ? 2048 : 1024;
    return WithContainer(hContainer, [&](SkfSlotUse& use) -> ULONG {
        TokenStatus status = kSwSuccess;
        const ULONG loop = RunContainerCommand(
            use,
            [&] {
                return use.token.ImportRsaKeyPair(AppIdOf(use), ConIdOf(use), ulSymAlgId, pbWrappedKey, ulWrappedKeyLen,
                                                  bits, pbEncryptedData, ulEncryptedDataLen);
            },
            &status);
        if (loop != SAR_OK)
            return loop;
        return SarFromKeyStatus(status, kKeyImportStatuses);
    });
}

ULONG SkfRSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen) {
    if (hContainer == nullptr || pbData == nullptr || ulDataLen == 0 || pulSignLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithContainer(hContainer, [&](SkfSlotUse& use) -> ULONG {
        std::vector<uint8_t> toSign;
        uint8_t selector = 0;
        if (rsa_padding::TokenTakesAsIs(ulDataLen)) {
            toSign.assign(pbData, pbData + ulDataLen);
            selector = rsa_padding::SelectorFor(ulDataLen);
        } else {
            ULONG bits = 0;
            const ULONG rv = SigningKeyBits(use, &bits);
            if (rv != SAR_OK)
                return rv;
            if (bits != 1024 && bits != 2048)
                return SAR_KEYNOTFOUNTERR;
            if (!rsa_padding::SignatureBlock(pbData, ulDataLen, bits / 8, &toSign))
                return SAR_INDATALENERR;
            selector = rsa_padding::kSelectorPaddedBlock;
        }
        CommandAnswer signature(kApduAnswerCapacity);
        const ULONG loop = RunForAnswer(use, &signature, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.RsaSignData(AppIdOf(use), ConIdOf(use), selector, toSign.data(), toSign.size(), out,
                                         outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (signature.status != kSwSuccess)
            return SarFromKeyStatus(signature.status, kKeySignStatuses);
        return HandOutAnswer(signature.bytes.data(), signature.len, pbSignature, pulSignLen);
    });
}

ULONG SkfRSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                             ULONG* pulDataLen, HANDLE* phSessionKey) {
    if (hContainer == nullptr || pPubKey == nullptr || pulDataLen == nullptr)
        return SAR_INVALIDPARAMERR;
    // The token makes the key as soon as it is asked; a caller with nowhere to receive the handle would
    // leave it unreachable.
    if (pbData != nullptr && phSessionKey == nullptr)
        return SAR_INVALIDPARAMERR;
    const ULONG bits = pPubKey->BitLen;
    if (!rsa_blob::BitsFitBlob(bits))
        return SAR_INVALIDPARAMERR;
    const size_t k = bits / 8;
    return WithContainer(hContainer, [&](SkfSlotUse& use) -> ULONG {
        ULONG early = SAR_OK;
        if (AnsweredWithLength(pbData, pulDataLen, k, &early))
            return early;
        CommandAnswer answer(kApduAnswerCapacity);
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.RsaExportSessionKey(AppIdOf(use), ConIdOf(use), ulAlgId, bits,
                                                 rsa_blob::ModulusOf(*pPubKey), pPubKey->PublicExponent, out, outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (answer.status != kSwSuccess)
            return SarFromKeyStatus(answer.status, kKeyPairStatuses);
        uint16_t keyIndex = 0;
        if (!rsa_blob::SplitSessionKeyAnswer(answer.bytes.data(), answer.len, k, &keyIndex))
            return SAR_FAIL;
        std::memcpy(pbData, answer.bytes.data(), k);
        *pulDataLen = static_cast<ULONG>(k);
        *phSessionKey = AddContainerSessionKey(use.handle, keyIndex, ulAlgId);
        return SAR_OK;
    });
}

} // namespace keycore
