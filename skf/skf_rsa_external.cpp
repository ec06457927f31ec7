// RSA with keys outside any container: a key pair generated for the caller, verification, and raw
// public- and private-key operations with the caller's blobs. These need only a device; every token
// failure is a plain SAR_FAIL.

#include "skf/skf_answer.h"
#include "skf/skf_frame.h"
#include "skf/skf_rsa.h"
#include "skf/skf_rsa_blob.h"
#include "skf/skf_rsa_padding.h"

#include "runtime/secure_wipe.h"

#include <cstring>
#include <vector>

namespace keycore {

namespace {

constexpr size_t kPrivateOperationAnswer = 1024;

// Wipes a buffer that held key material or a padded secret on every way out.
struct WipeOnExit {
    std::vector<uint8_t>& bytes;
    ~WipeOnExit() { SecureWipe(bytes); }
};

} // namespace

ULONG SkfGenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) {
    if (hDev == nullptr || pBlob == nullptr)
        return SAR_INVALIDPARAMERR;
    if (!rsa_blob::BitsFitBlob(ulBitsLen))
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        std::vector<uint8_t> answer(rsa_blob::kKeyPairAnswerMax);
        WipeOnExit wipe{answer};
        CK_ULONG answerLen = answer.size();
        const TokenStatus status = use.token.GenExtRsaKey(static_cast<uint16_t>(ulBitsLen), answer.data(), &answerLen);
        if (status != kSwSuccess)
            return SAR_FAIL;
        return rsa_blob::PrivateBlobFromAnswer(answer.data(), answerLen, ulBitsLen, pBlob) ? SAR_OK : SAR_FAIL;
    });
}

ULONG SkfRSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                   ULONG ulSignLen) {
    if (hDev == nullptr || pRSAPubKeyBlob == nullptr || pbData == nullptr || ulDataLen == 0 || pbSignature == nullptr ||
        ulSignLen == 0)
        return SAR_INVALIDPARAMERR;
    const ULONG bits = pRSAPubKeyBlob->BitLen;
    if (!rsa_blob::BitsFitBlob(bits))
        return SAR_INVALIDPARAMERR;
    const size_t k = bits / 8;
    if (!rsa_padding::TokenTakesAsIs(ulDataLen) && k < ulDataLen + rsa_padding::kMinimumOverhead)
        return SAR_INDATALENERR;
    const BYTE* modulus = rsa_blob::ModulusOf(*pRSAPubKeyBlob);
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        if (rsa_padding::TokenTakesAsIs(ulDataLen)) {
            // The command's P1 flag stays clear: the selector alone tells the token what the data is.
            const TokenStatus status =
                use.token.RsaVerify(false, rsa_padding::SelectorFor(ulDataLen), bits, modulus,
                                    pRSAPubKeyBlob->PublicExponent, pbData, ulDataLen, pbSignature, ulSignLen);
            return status == CKR_OK ? SAR_OK : SAR_FAIL;
        }
        // Other data was signed in a block the signer padded itself: recover the block and require
        // the whole of it, padding included, to be the signature block of the data.
        if (ulSignLen != k)
            return SAR_FAIL;
        std::vector<uint8_t> block(kApduAnswerCapacity);
        CK_ULONG blockLen = block.size();
        const TokenStatus status = use.token.ExtRsaPubKeyOperation(bits, modulus, pRSAPubKeyBlob->PublicExponent,
                                                                   pbSignature, ulSignLen, block.data(), &blockLen);
        if (status != kSwSuccess || blockLen != k)
            return SAR_FAIL;
        return rsa_padding::IsSignatureBlockOf(block.data(), k, pbData, ulDataLen) ? SAR_OK : SAR_FAIL;
    });
}

ULONG SkfExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                               BYTE* pbOutput, ULONG* pulOutputLen) {
    if (hDev == nullptr || pRSAPubKeyBlob == nullptr || pbInput == nullptr || ulInputLen == 0 ||
        pulOutputLen == nullptr)
        return SAR_INVALIDPARAMERR;
    const ULONG bits = pRSAPubKeyBlob->BitLen;
    if (!rsa_blob::BitsFitBlob(bits))
        return SAR_INVALIDPARAMERR;
    const size_t k = bits / 8;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        ULONG early = SAR_OK;
        if (AnsweredWithLength(pbOutput, pulOutputLen, k, &early))
            return early;
        // A whole block is the caller's own; anything shorter is encrypted in a type 2 block.
        std::vector<uint8_t> input;
        WipeOnExit wipeInput{input};
        if (ulInputLen == k)
            input.assign(pbInput, pbInput + ulInputLen);
        else if (!rsa_padding::EncryptionBlock(pbInput, ulInputLen, k, &input))
            return SAR_FAIL;
        std::vector<uint8_t> output(kApduAnswerCapacity);
        CK_ULONG outputLen = output.size();
        const TokenStatus status =
            use.token.ExtRsaPubKeyOperation(bits, rsa_blob::ModulusOf(*pRSAPubKeyBlob), pRSAPubKeyBlob->PublicExponent,
                                            input.data(), input.size(), output.data(), &outputLen);
        if (status != kSwSuccess)
            return SAR_FAIL;
        return HandOutAnswer(output.data(), outputLen, pbOutput, pulOutputLen);
    });
}

ULONG SkfExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput, ULONG ulInputLen,
                               BYTE* pbOutput, ULONG* pulOutputLen) {
    if (hDev == nullptr || pRSAPriKeyBlob == nullptr || pbInput == nullptr || ulInputLen == 0 ||
        pulOutputLen == nullptr)
        return SAR_INVALIDPARAMERR;
    const ULONG bits = pRSAPriKeyBlob->BitLen;
    if (!rsa_blob::BitsFitBlob(bits))
        return SAR_INVALIDPARAMERR;
    const size_t k = bits / 8;
    if (ulInputLen != k)
        return SAR_INDATALENERR;
    return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
        if (pbOutput == nullptr) {
            *pulOutputLen = static_cast<ULONG>(k);
            return SAR_OK;
        }
        const rsa_blob::PrivateKeyNumbers key = rsa_blob::NumbersOf(*pRSAPriKeyBlob);
        std::vector<uint8_t> output(kPrivateOperationAnswer);
        WipeOnExit wipe{output};
        CK_ULONG outputLen = output.size();
        const TokenStatus status = use.token.ExtRsaPriKeyOperation(
            bits, key.modulus, key.publicExponent, key.privateExponent, key.prime1, key.prime2, key.prime1Exponent,
            key.prime2Exponent, key.coefficient, pbInput, ulInputLen, output.data(), &outputLen);
        if (status != kSwSuccess)
            return SAR_FAIL;
        return HandOutAnswer(output.data(), outputLen, pbOutput, pulOutputLen);
    });
}

} // namespace keycore
