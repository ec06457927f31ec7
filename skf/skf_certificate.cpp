// Certificates of a container, and the key pairs that arrive through the certificate import.

#include "skf/skf_cert_payload.h"
#include "skf/skf_storage.h"

#include "runtime/secure_wipe.h"

#include <cstring>
#include <memory>
#include <vector>

namespace keycore {

namespace {

constexpr CK_ULONG kCertificateAnswerMax = 4096;
constexpr uint32_t kSgdSm4Ecb = 0x401;
constexpr uint32_t kPaddingPkcs = 1;
constexpr size_t kBlock = 16;

constexpr size_t kEccCoordinate = 32;
constexpr uint8_t kKeyTypeRsa = 1;
constexpr uint8_t kKeyTypeEcc = 2;

// The key that wraps an imported private key on its way to the token. It is set on the token in the
// same call that uses it, so its value protects nothing by itself; it only has to be fixed.
constexpr unsigned char kImportWrappingKey[kBlock] = {0x4B, 0x43, 0x2D, 0x49, 0x4D, 0x50, 0x4F, 0x52,
                                                      0x54, 0x2D, 0x57, 0x52, 0x41, 0x50, 0x30, 0x31};

// Encrypts the wrapped form on the token under the import key; the result replaces it.
ULONG EncryptOnToken(SkfSlotUse& call, SecureBytes& wrapped, uint16_t* pKeyIndex) {
    // The first command of the import meets an application or container that another process moved
    // away from as any container-bound command does.
    ULONG loop = SAR_OK;
    TokenStatus status = RunWithReselect(
        call, {kSwApplicationNotSelected}, true,
        [&] {
            return call.token.SetSymmKey(AppIdOf(call), ConIdOf(call), kSgdSm4Ecb, kImportWrappingKey,
                                         sizeof kImportWrappingKey, pKeyIndex);
        },
        &loop);
    if (loop != SAR_OK)
        return loop;
    if (status != kSwSuccess)
        return SarFromStatus(status);
    status =
        call.token.CipherInit(true, AppIdOf(call), ConIdOf(call), *pKeyIndex, kSgdSm4Ecb, nullptr, 0, kPaddingPkcs, 0);
    if (status != kSwSuccess)
        return SarFromStatus(status);
    // Room for the padding block the token adds; ECB keeps the leading blocks of the answer equal to
    // the encryption of the input, which is what the import expects.
    SecureBytes encrypted(wrapped.size() + kBlock);
    CK_ULONG encryptedLen = encrypted.size();
    status = call.token.CipherSingle(true, AppIdOf(call), ConIdOf(call), *pKeyIndex, wrapped.data(), wrapped.size(),
                                     encrypted.data(), &encryptedLen);
    if (status != kSwSuccess)
        return SarFromStatus(status);
    // Never send the plain private key: an answer shorter than the input is a failure.
    if (encryptedLen < wrapped.size())
        return SAR_FAIL;
    std::memcpy(wrapped.data(), encrypted.data(), wrapped.size());
    return SAR_OK;
}

ULONG ImportKeyPair(SkfSlotUse& call, CertPayload kind, BOOL bSignFlag, const unsigned char* pbData, size_t len,
                    uint32_t modulusBits) {
    const bool ecc = kind == CertPayload::EccKeyPair;
    std::unique_ptr<SecureBytes> wrapped;
    if (ecc) {
        wrapped.reset(new SecureBytes(pbData + 1 + 2 * kEccCoordinate, kEccCoordinate));
    } else {
        const size_t pad = kBlock - len % kBlock;
        wrapped.reset(new SecureBytes(len + pad));
        std::memcpy(wrapped->data(), pbData, len);
        std::memset(wrapped->data() + len, static_cast<int>(pad), pad);
    }
    uint16_t keyIndex = 0;
    ULONG rv = EncryptOnToken(call, *wrapped, &keyIndex);
    if (rv != SAR_OK)
        return rv;

    SecureBytes blob(ecc ? 2 * kEccCoordinate + 4 + kEccCoordinate : wrapped->size());
    if (ecc) {
        std::memcpy(blob.data(), pbData + 1, 2 * kEccCoordinate);
        const unsigned char length[4] = {0x00, 0x00, 0x00, 0x20};
        std::memcpy(blob.data() + 2 * kEccCoordinate, length, sizeof length);
        std::memcpy(blob.data() + 2 * kEccCoordinate + 4, wrapped->data(), kEccCoordinate);
    } else {
        std::memcpy(blob.data(), wrapped->data(), wrapped->size());
    }

    const uint8_t usage = bSignFlag != 0 ? 0 : 1;
    const uint32_t bits = ecc ? 256 : modulusBits;
    ULONG result = SAR_OK;
    const TokenStatus status = RunWithReselect(
        call, {kSwApplicationNotSelected}, true,
        [&] {
            return call.token.ImportWrappedKeyPair(ecc ? kKeyTypeEcc : kKeyTypeRsa, usage, AppIdOf(call), ConIdOf(call),
                                                   kSgdSm4Ecb, keyIndex, bits, blob.data(), blob.size());
        },
        &result);
    if (result != SAR_OK)
        return result;
    if (status == kSwSuccess)
        return SAR_OK;
    return TranslateWith(status, {{0x6A88, SAR_OBJERR}, {0x6A95, SAR_OBJERR}});
}

} // namespace

ULONG SkfImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen) {
    if (hContainer == nullptr || pbCert == nullptr || ulCertLen == 0)
        return SAR_INVALIDPARAMERR;
    uint32_t modulusBits = 0;
    const CertPayload kind = ClassifyCertPayload(pbCert, ulCertLen, &modulusBits);
    if (kind == CertPayload::BadRsaKey)
        return SAR_INDATAERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        if (kind != CertPayload::Certificate)
            return ImportKeyPair(call, kind, bSignFlag, pbCert, ulCertLen, modulusBits);
        ULONG result = SAR_OK;
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected}, true,
            [&] {
                return call.token.ImportCertificate(AppIdOf(call), ConIdOf(call), bSignFlag == 1, pbCert, ulCertLen);
            },
            &result);
        if (result != SAR_OK)
            return result;
        if (status == kSwSuccess)
            return SAR_OK;
        return TranslateWith(status, {{0x6A88, SAR_OBJERR}, {0x6A95, SAR_OBJERR}});
    });
}

ULONG SkfExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) {
    if (hContainer == nullptr || pulCertLen == nullptr)
        return SAR_INVALIDPARAMERR;
    return WithHandleSlot(hContainer, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& call) -> ULONG {
        std::vector<unsigned char> cert(kCertificateAnswerMax);
        CK_ULONG certLen = 0;
        ULONG result = SAR_OK;
        const TokenStatus status = RunWithReselect(
            call, {kSwApplicationNotSelected}, true,
            [&] {
                certLen = cert.size();
                return call.token.ExportCertificate(AppIdOf(call), ConIdOf(call), bSignFlag == 1, cert.data(),
                                                    &certLen);
            },
            &result);
        if (result != SAR_OK)
            return result;
        if (status != kSwSuccess) {
            return TranslateWith(status, {{0x6A88, SAR_OBJERR},
                                          {0x6A95, SAR_OBJERR},
                                          {0x6A96, SAR_CERTNOTFOUNTERR},
                                          {kLibraryBufferTooSmall, SAR_BUFFER_TOO_SMALL},
                                          {0x0002, SAR_MEMORYERR}});
        }
        if (pbCert == nullptr) {
            *pulCertLen = static_cast<ULONG>(certLen);
            return SAR_OK;
        }
        if (*pulCertLen < certLen) {
            *pulCertLen = static_cast<ULONG>(certLen);
            return SAR_BUFFER_TOO_SMALL;
        }
        std::memset(pbCert, 0, *pulCertLen);
        std::memcpy(pbCert, cert.data(), certLen);
        *pulCertLen = static_cast<ULONG>(certLen);
        return SAR_OK;
    });
}

} // namespace keycore
