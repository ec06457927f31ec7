// SM2 keys of containers and of callers: every cryptographic step runs on the token; this side moves
// the 32-byte values between blobs and commands, recovers a token that another process moved to a
// different application or container, and issues the handles of agreements and session keys.

#include "skf/skf_ecc.h"

#include "skf/skf_answer.h"
#include "skf/skf_ecc_blob.h"
#include "skf/skf_frame.h"
#include "skf/skf_session_key.h"
#include "skf/skf_storage.h"

#include "runtime/secure_wipe.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

namespace keycore {

namespace {

// Answer room of the commands whose answers are small and fixed (the token's own limit is 512 bytes).
constexpr size_t kAnswerRoom = 512;
constexpr size_t kSessionKeyLen = 16;
constexpr size_t kIndexLen = 2;

// The re-select loop of a command on a container's key: at most two attempts; 0x698A selects the
// application again and re-opens the container, 0x6A94 re-opens the container. SAR_OK means *status
// holds the last status to translate; anything else is the loop's own result.
template <typename Command>
ULONG RunInContainer(SkfSlotUse& use, std::initializer_list<TokenStatus> recoverOn, Command command,
                     TokenStatus* status) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        *status = command();
        bool recover = false;
        for (TokenStatus word : recoverOn)
            recover = recover || word == *status;
        if (!recover)
            return SAR_OK;
        const ULONG recovered = ReselectAndReopen(use, *status);
        if (recovered != SAR_OK)
            return recovered;
    }
    return SAR_FAIL;
}

template <typename Command> ULONG RunInContainer(SkfSlotUse& use, Command command, TokenStatus* status) {
    return RunInContainer(use, {kSwApplicationNotSelected, kSwContainerNotOpen}, command, status);
}

// A small answer of a command run in the re-select loop; every attempt starts with the whole room.
struct ContainerAnswer {
    uint8_t bytes[kAnswerRoom];
    CK_ULONG len = 0;
    TokenStatus status = 0;
};

// command(out, outLen) asks the token; the result is the loop's as in RunInContainer, and on SAR_OK
// answer->status is the status to translate.
template <typename Command>
ULONG RunForAnswer(SkfSlotUse& use, std::initializer_list<TokenStatus> recoverOn, ContainerAnswer* answer,
                   Command command) {
    return RunInContainer(
        use, recoverOn,
        [&] {
            answer->len = sizeof answer->bytes;
            return command(answer->bytes, &answer->len);
        },
        &answer->status);
}

template <typename Command> ULONG RunForAnswer(SkfSlotUse& use, ContainerAnswer* answer, Command command) {
    return RunForAnswer(use, {kSwApplicationNotSelected, kSwContainerNotOpen}, answer, command);
}

// An agreement begun by the sponsor: the container's fields, m_keyId = the token's agreement
// identifier and m_algId = the algorithm of the key it will give. Only such a handle finishes an
// agreement.
class CAgreementHandle : public GMHandle {};

HANDLE AddAgreementHandle(const GMHandle& container, uint32_t agreementId, ULONG algId) {
    auto handle = std::make_shared<CAgreementHandle>();
    CopyContainerFields(container, handle.get());
    handle->m_keyId = agreementId;
    handle->m_algId = algId;
    return GMHandles::Table().Add(std::move(handle));
}

bool IsAgreementHandle(const void* value) {
    return std::dynamic_pointer_cast<CAgreementHandle>(GMHandles::Table().Find(value)) != nullptr;
}

BYTE* CipherBytes(ECCCIPHERBLOB* blob) {
    return reinterpret_cast<BYTE*>(blob) + offsetof(ECCCIPHERBLOB, Cipher);
}

} // namespace

ULONG SkfGenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob) {
    // ulAlgId is not passed on: the token makes the container's signing pair. A key pair whose public
    // key could not be handed back is not made at all.
    static_cast<void>(ulAlgId);
    if (hContainer == nullptr || pBlob == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        ContainerAnswer answer;
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.GenEccKeyPair(AppIdOf(use), ConIdOf(use), out, outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (answer.status != kSwSuccess)
            return SarFromKeyStatus(answer.status, kKeyPairStatuses);
        if (answer.len != 2 * kEccValueLen)
            return SAR_FAIL;
        FillEccPublicKeyBlob(answer.bytes, answer.bytes + kEccValueLen, pBlob);
        return SAR_OK;
    });
}

ULONG SkfImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob) {
    if (hContainer == nullptr || pEnvelopedKeyBlob == nullptr)
        return SAR_INVALIDPARAMERR;
    ENVELOPEDKEYBLOB& envelope = *pEnvelopedKeyBlob;
    const ULONG wrappedLen = envelope.ECCCipherBlob.CipherLen;
    if (wrappedLen == 0 || wrappedLen > kMaxEccCommandData)
        return SAR_INDATALENERR;
    // A 32-byte encrypted key right-aligned behind zeros shows as two equal 16-byte halves in front.
    const BYTE* encrypted = envelope.cbEncryptedPriKey;
    const BYTE* privateKey = std::memcmp(encrypted, encrypted + 16, 16) == 0 ? EccValue(encrypted) : encrypted;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        TokenStatus status = 0;
        const ULONG loop = RunInContainer(
            use,
            [&] {
                return use.token.ImportEccKeyPair(
                    AppIdOf(use), ConIdOf(use), envelope.ulSymmAlgID, EccValue(envelope.ECCCipherBlob.XCoordinate),
                    EccValue(envelope.ECCCipherBlob.YCoordinate), envelope.ECCCipherBlob.HASH,
                    CipherBytes(&envelope.ECCCipherBlob), wrappedLen, EccValue(envelope.PubKey.XCoordinate),
                    EccValue(envelope.PubKey.YCoordinate), privateKey, kEccValueLen);
            },
            &status);
        if (loop != SAR_OK)
            return loop;
        return SarFromKeyStatus(status, kKeyImportStatuses);
    });
}

ULONG SkfECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature) {
    if (hContainer == nullptr || pbData == nullptr || ulDataLen == 0 || pSignature == nullptr)
        return SAR_INVALIDPARAMERR;
    // The command carries exactly one SM3 digest; anything else would be cut or read past its end.
    if (ulDataLen != kEccValueLen)
        return SAR_INDATALENERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        ContainerAnswer answer;
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.EccSignData(AppIdOf(use), ConIdOf(use), pbData, out, outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (answer.status != kSwSuccess)
            return SarFromKeyStatus(answer.status, kKeySignStatuses);
        if (answer.len < 4 + 2 * kEccValueLen)
            return SAR_FAIL;
        FillEccSignatureBlob(answer.bytes + 4, answer.bytes + 4 + kEccValueLen, pSignature);
        return SAR_OK;
    });
}

ULONG SkfECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                   ECCSIGNATUREBLOB* pSignature) {
    if (hDev == nullptr || pECCPubKeyBlob == nullptr || pbData == nullptr || ulDataLen == 0 || pSignature == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        const TokenStatus status =
            use.token.EccVerify(EccValue(pECCPubKeyBlob->XCoordinate), EccValue(pECCPubKeyBlob->YCoordinate), pbData,
                                ulDataLen, EccValue(pSignature->r), EccValue(pSignature->s));
        return status == kSwSuccess ? SAR_OK : SAR_FAIL;
    });
}

ULONG SkfECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                             HANDLE* phSessionKey) {
    if (hContainer == nullptr || pPubKey == nullptr || pData == nullptr || phSessionKey == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        ContainerAnswer answer;
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.EccExportSessionKey(AppIdOf(use), ConIdOf(use), EccValue(pPubKey->XCoordinate),
                                                 EccValue(pPubKey->YCoordinate), ulAlgId, out, outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (answer.status != kSwSuccess)
            return SarFromKeyStatus(answer.status, kKeyPairStatuses);
        // The cipher form of one 16-byte key, then the key's index: the caller's blob has room for
        // those 16 bytes only.
        Sm2CipherView view;
        size_t formLen = 0;
        if (!ReadSm2CipherForm(answer.bytes, answer.len, &view, &formLen) || view.c2Len != kSessionKeyLen ||
            answer.len != formLen + kIndexLen)
            return SAR_FAIL;
        const uint16_t keyIndex = ReadBigEndian16(answer.bytes + formLen);
        FillEccCipherBlob(view, pData);
        *phSessionKey = AddContainerSessionKey(use.handle, keyIndex, ulAlgId);
        return SAR_OK;
    });
}

ULONG SkfExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                       ECCCIPHERBLOB* pCipherText) {
    if (hDev == nullptr || pECCPubKeyBlob == nullptr || pbPlainText == nullptr || ulPlainTextLen == 0 ||
        pCipherText == nullptr)
        return SAR_INVALIDPARAMERR;
    if (ulPlainTextLen > kMaxEccCommandData)
        return SAR_INDATALENERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        std::vector<uint8_t> answer(ulPlainTextLen + 128);
        CK_ULONG answerLen = answer.size();
        const TokenStatus status =
            use.token.ExtEccEncrypt(EccValue(pECCPubKeyBlob->XCoordinate), EccValue(pECCPubKeyBlob->YCoordinate),
                                    pbPlainText, ulPlainTextLen, answer.data(), &answerLen);
        if (status != kSwSuccess)
            return SAR_INDATAERR;
        // The caller's blob has room for as many cipher bytes as there were plain bytes.
        Sm2CipherView view;
        size_t formLen = 0;
        if (!ReadSm2CipherForm(answer.data(), answerLen, &view, &formLen) || view.c2Len != ulPlainTextLen)
            return SAR_FAIL;
        FillEccCipherBlob(view, pCipherText);
        return SAR_OK;
    });
}

ULONG SkfExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                       ULONG* pulPlainTextLen) {
    if (hDev == nullptr || pECCPriKeyBlob == nullptr || pCipherText == nullptr || pulPlainTextLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        // SM2 plain text is as long as C2.
        const ULONG plainLen = pCipherText->CipherLen;
        ULONG early = SAR_OK;
        if (AnsweredWithLength(pbPlainText, pulPlainTextLen, plainLen, &early))
            return early;
        if (plainLen == 0 || plainLen > kMaxEccCommandData)
            return SAR_INDATALENERR;
        SecureBytes plain(plainLen);
        CK_ULONG answerLen = plain.size();
        const TokenStatus status =
            use.token.ExtEccDecrypt(EccValue(pECCPriKeyBlob->PrivateKey), EccValue(pCipherText->XCoordinate),
                                    EccValue(pCipherText->YCoordinate), pCipherText->HASH, CipherBytes(pCipherText),
                                    plainLen, plain.data(), &answerLen);
        if (status != kSwSuccess || answerLen != plainLen)
            return SAR_FAIL;
        std::memcpy(pbPlainText, plain.data(), plainLen);
        *pulPlainTextLen = plainLen;
        return SAR_OK;
    });
}

ULONG SkfExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                    ECCSIGNATUREBLOB* pSignature) {
    if (hDev == nullptr || pECCPriKeyBlob == nullptr || pbData == nullptr || ulDataLen == 0 || pSignature == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        uint8_t answer[kAnswerRoom];
        CK_ULONG answerLen = sizeof answer;
        const TokenStatus status =
            use.token.ExtEccSign(EccValue(pECCPriKeyBlob->PrivateKey), pbData, ulDataLen, answer, &answerLen);
        if (status != kSwSuccess || answerLen < 2 * kEccValueLen)
            return SAR_FAIL;
        FillEccSignatureBlob(answer, answer + kEccValueLen, pSignature);
        return SAR_OK;
    });
}

ULONG SkfGenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob,
                                      BYTE* pbID, ULONG ulIDLen, HANDLE* phAgreementHandle) {
    if (hContainer == nullptr || pTempECCPubKeyBlob == nullptr || pbID == nullptr || ulIDLen == 0 ||
        phAgreementHandle == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        ContainerAnswer answer;
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.GenerateAgreementDataWithEcc(AppIdOf(use), ConIdOf(use), ulAlgId, pbID, ulIDLen, out,
                                                          outLen);
        });
        if (loop != SAR_OK)
            return loop;
        const uint8_t* x = nullptr;
        const uint8_t* y = nullptr;
        uint32_t agreementId = 0;
        if (answer.status != kSwSuccess || !ReadAgreementData(answer.bytes, answer.len, &x, &y, &agreementId))
            return SAR_FAIL;
        FillEccPublicKeyBlob(x, y, pTempECCPubKeyBlob);
        *phAgreementHandle = AddAgreementHandle(use.handle, agreementId, ulAlgId);
        return SAR_OK;
    });
}

ULONG SkfGenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                            ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                            BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle) {
    if (hContainer == nullptr || pSponsorECCPubKeyBlob == nullptr || pSponsorTempECCPubKeyBlob == nullptr ||
        pTempECCPubKeyBlob == nullptr || pbID == nullptr || ulIDLen == 0 || pbSponsorID == nullptr ||
        ulSponsorIDLen == 0 || phKeyHandle == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        ContainerAnswer answer;
        const ULONG loop = RunForAnswer(use, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.GenerateAgreementDataAndKeyWithEcc(
                AppIdOf(use), ConIdOf(use), ulAlgId, EccValue(pSponsorECCPubKeyBlob->XCoordinate),
                EccValue(pSponsorECCPubKeyBlob->YCoordinate), EccValue(pSponsorTempECCPubKeyBlob->XCoordinate),
                EccValue(pSponsorTempECCPubKeyBlob->YCoordinate), pbSponsorID, ulSponsorIDLen, pbID, ulIDLen, out,
                outLen);
        });
        if (loop != SAR_OK)
            return loop;
        const uint8_t* x = nullptr;
        const uint8_t* y = nullptr;
        uint16_t keyIndex = 0;
        if (answer.status != kSwSuccess || !ReadAgreementKey(answer.bytes, answer.len, &x, &y, &keyIndex))
            return SAR_FAIL;
        FillEccPublicKeyBlob(x, y, pTempECCPubKeyBlob);
        *phKeyHandle = AddContainerSessionKey(use.handle, keyIndex, ulAlgId);
        return SAR_OK;
    });
}

ULONG SkfGenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                            ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen, HANDLE* phKeyHandle) {
    if (hAgreementHandle == nullptr || pECCPubKeyBlob == nullptr || pTempECCPubKeyBlob == nullptr || pbID == nullptr ||
        ulIDLen == 0 || phKeyHandle == nullptr)
        return SAR_INVALIDPARAMERR;
    // Any other handle would send the token an agreement identifier that means nothing.
    if (!IsAgreementHandle(hAgreementHandle))
        return SAR_INVALIDHANDLEERR;
    return WithHandleSlot(hAgreementHandle, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        uint16_t keyIndex = 0;
        TokenStatus status = 0;
        const ULONG loop = RunInContainer(
            use,
            [&] {
                return use.token.GenerateKeyWithEcc(
                    AppIdOf(use), ConIdOf(use), static_cast<uint32_t>(use.handle.m_keyId),
                    EccValue(pECCPubKeyBlob->XCoordinate), EccValue(pECCPubKeyBlob->YCoordinate),
                    EccValue(pTempECCPubKeyBlob->XCoordinate), EccValue(pTempECCPubKeyBlob->YCoordinate), pbID, ulIDLen,
                    &keyIndex);
            },
            &status);
        if (loop != SAR_OK)
            return loop;
        if (status != kSwSuccess)
            return SAR_FAIL;
        // The agreement handle stays open; the key takes its container and algorithm.
        *phKeyHandle = AddContainerSessionKey(use.handle, keyIndex, static_cast<ULONG>(use.handle.m_algId));
        return SAR_OK;
    });
}

ULONG SkfExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) {
    if (hContainer == nullptr || pulBlobLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        const CK_ULONG selector = bSignFlag != 0 ? 0 : 1;
        ContainerAnswer answer;
        // Only a closed container is recovered here; an unselected application is a plain refusal.
        const ULONG loop = RunForAnswer(use, {kSwContainerNotOpen}, &answer, [&](uint8_t* out, CK_ULONG* outLen) {
            return use.token.ExportPublicKey(AppIdOf(use), ConIdOf(use), selector, out, outLen);
        });
        if (loop != SAR_OK)
            return loop;
        if (answer.status != kSwSuccess)
            return SAR_OBJERR;
        ExportedPublicKey key;
        if (!ReadExportedPublicKey(answer.bytes, answer.len, &key))
            return SAR_FAIL;
        const size_t blobSize = PublicKeyBlobSize(key);
        ULONG early = SAR_OK;
        if (AnsweredWithLength(pbBlob, pulBlobLen, blobSize, &early))
            return early;
        std::memset(pbBlob, 0, *pulBlobLen);
        FillPublicKeyBlob(key, pbBlob);
        *pulBlobLen = static_cast<ULONG>(blobSize);
        return SAR_OK;
    });
}

} // namespace keycore
