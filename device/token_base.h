#pragma once
// The one interface through which the PKCS#11 core and the SKF functions reach a physical token.
//
// The virtual operations are declared in their interface order: token-level operations first, then one
// operation per APDU command of the token (from TransmitRawApdu to ChangeDevAuthKeySm2), then the DER
// helpers and the frame exchange. CToken5105 implements everything above the wire; the transport classes
// override the operations that touch USB (construction, GetDeviceType, GetTransportName, OpenDevice,
// CloseDevice, SelectEndpoints, TransmitFrame).
//
// Results. Token-level operations return CK_RV. The command operations return a TokenStatus: the token's
// status word unchanged (0x9000 success), 0xFFFF when the exchange failed, CKR_BUFFER_TOO_SMALL (0x150)
// when the caller's answer buffer is too small (the needed length stored where there is a length out),
// CKR_ARGUMENTS_BAD (7) for missing or impossible arguments, or, where a command is documented "0 or 6",
// 0 for 0x9000 and CKR_FUNCTION_FAILED otherwise.
//
// Locking. Every command is one TransmitFrame, which holds the token's cross-process device lock for the
// exchange. Sequences that must not be interleaved (random then PIN command, access code then privileged
// command, the chunks of a file transfer) are bracketed by the caller with the slot lock and Lock/Unlock;
// the lock is recursive, so that nesting is allowed.

#include "runtime/process_mutex.h"

#include <p11-kit/pkcs11.h>
#include <usb.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace keycore {

class CSlot;

// Status word or result of a command operation (see the header comment).
using TokenStatus = CK_ULONG;

constexpr TokenStatus kSwSuccess = 0x9000;
// A command whose exchange failed (transport failure, an answer shorter than the status word).
constexpr TokenStatus kSwTransportFailure = 0xFFFF;
// GetDevInfo's own "buffer too small".
constexpr TokenStatus kDevInfoBufferTooSmall = 0x0A000020;

// TransmitApdu results besides a status word.
constexpr long kApduTransportFailure = -1;
constexpr long kApduBufferTooSmall = -3;

// Timeout of every command exchange, in milliseconds.
constexpr CK_ULONG kCommandTimeoutMs = 100000;
// Answer area of one command exchange.
constexpr size_t kApduAnswerCapacity = 4102;

constexpr size_t kSoPinCacheSize = 64;

// PIN types of the command set.
constexpr uint8_t kPinTypeAdmin = 0;
constexpr uint8_t kPinTypeUser = 1;

// The flags a freshly built token object reports: CKF_RNG | CKF_LOGIN_REQUIRED |
// CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED.
constexpr CK_FLAGS kInitialTokenFlags = 0x40D;

#pragma pack(push, 1)
// PIN retry counters and the token flags, as GetPinInfo reports them (12 packed bytes).
struct AUX_PIN_INFO {
    uint8_t bSOPinMaxRetries;
    uint8_t bSOPinCurCounter; // tries left
    uint8_t bUserPinMaxRetries;
    uint8_t bUserPinCurCounter; // tries left
    uint64_t ulTokenFlags;
};
#pragma pack(pop)
static_assert(sizeof(AUX_PIN_INFO) == 12, "AUX_PIN_INFO is 12 packed bytes");
using AUX_PIN_INFO_PTR = AUX_PIN_INFO*;

// A command in parts, for the reserved secure-messaging path (BuildApdu / TransmitSecure).
struct APDU_RECORD {
    uint8_t cla = 0x80;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    std::vector<uint8_t> data;
    // Expected answer length appended after the data; negative for none.
    long le = -1;
};

// The handle of a token that is not open: a distinct value, never a real libusb handle and not null.
usb_dev_handle* NoUsbHandle();

class CTokenBase {
public:
    CTokenBase(CSlot* pSlot, const std::string& devicePath);
    CTokenBase(const CTokenBase&) = delete;
    CTokenBase& operator=(const CTokenBase&) = delete;

    virtual ~CTokenBase();

    // 9 for the SCSI-style transport, 8 for HID.
    virtual int GetDeviceType() = 0;
    // Stores the two PIN-type bytes (see PinTypeByte). Returns 0.
    virtual CK_RV SetPinTypeBytes(uint8_t bAdminPinType, uint8_t bUserPinType) = 0;
    // The token's cross-process device lock, recursive for the owning thread. 0 or CKR_CANT_LOCK.
    virtual CK_RV Lock() = 0;
    virtual CK_RV Unlock() = 0;
    // MD5 of the data with every 0xFF replaced by 0xFE (16 bytes); empty when pbData is null.
    virtual std::vector<unsigned char> HashToId(const unsigned char* pbData, CK_ULONG ulDataLen) = 0;
    virtual CK_RV InitToken(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) = 0;
    virtual CK_RV Finalize() = 0;
    // Loads the application name and opens the application unless it is open. 0 or CKR_GENERAL_ERROR.
    virtual CK_RV EnsureApplication() = 0;
    virtual CK_RV Login(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) = 0;
    // Sets a new user PIN with the SO PIN cached by the last SO login.
    virtual CK_RV InitPin(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) = 0;
    // Changes the PIN of the user type. Both caller buffers are zeroed.
    virtual CK_RV SetPin(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
                         CK_ULONG ulNewLen) = 0;
    // Copies the cached SO PIN (NUL-padded) into the 64-byte buffer; CKR_GENERAL_ERROR when empty.
    virtual CK_RV GetSoPinCache(unsigned char pbPin[kSoPinCacheSize]) = 0;
    virtual CK_RV GetPinInfo(AUX_PIN_INFO_PTR pInfo) = 0;
    // Generates a key pair in the container of the current application. pbModulus receives bits/8 bytes
    // (*pulModulusLen is its capacity on entry), *pulExponent the public exponent.
    virtual CK_RV GenerateRsaKeyPair(uint16_t usContainerId, CK_ULONG ulModulusBits, CK_ULONG* pulExponent,
                                     unsigned char* pbModulus, CK_ULONG* pulModulusLen) = 0;
    // As GenerateRsaKeyPair for the container's signing key (privileged command).
    virtual CK_RV GenerateRsaKeyPairEx(uint16_t usContainerId, CK_ULONG ulModulusBits, CK_ULONG* pulExponent,
                                       unsigned char* pbModulus, CK_ULONG* pulModulusLen) = 0;
    // Creates a container (a random name when the given one is empty). 0 or CKR_GENERAL_ERROR.
    virtual CK_RV CreateContainerNamed(std::string& name, uint16_t* pusContainerId) = 0;
    virtual CK_RV Reserved1() = 0;
    // Imports an RSA private key into a container (a new one when the name is empty); the key travels
    // encrypted under a transport key. 0, CKR_GENERAL_ERROR or CKR_DEVICE_ERROR.
    virtual CK_RV ImportRsaKeyObject(const unsigned char* pbModulus, CK_ULONG ulModulusLen,
                                     const unsigned char* pbPublicExponent, CK_ULONG ulPublicExponentLen,
                                     const unsigned char* pbPrivateExponent, CK_ULONG ulPrivateExponentLen,
                                     const unsigned char* pbPrime1, CK_ULONG ulPrime1Len, const unsigned char* pbPrime2,
                                     CK_ULONG ulPrime2Len, const unsigned char* pbExponent1, CK_ULONG ulExponent1Len,
                                     const unsigned char* pbExponent2, CK_ULONG ulExponent2Len,
                                     const unsigned char* pbCoefficient, CK_ULONG ulCoefficientLen,
                                     std::string& containerName, uint16_t* pusContainerId, uint8_t bUsage) = 0;
    virtual CK_RV Unsupported1() = 0;
    virtual CK_RV Unsupported2() = 0;
    virtual CK_RV Unsupported3() = 0;
    virtual CK_RV Unsupported4() = 0;
    virtual CK_RV Unsupported5() = 0;
    virtual CK_RV Unsupported6() = 0;
    // Signs or decrypts with a container's private key. *pulOutputLen: capacity in, answer length out.
    virtual CK_RV RsaPrivateOperation(uint16_t usContainerId, const unsigned char* pbData, CK_ULONG ulDataLen,
                                      unsigned char* pbOutput, CK_ULONG* pulOutputLen, uint8_t bKeyUsage) = 0;
    // Reads a container's public key. ulKeySelector: 0 signing key, 1 exchange key.
    virtual CK_RV ExportRsaPublicKey(const std::string& containerName, unsigned char* pbModulus,
                                     CK_ULONG* pulModulusLen, unsigned char* pbExponent, CK_ULONG* pulExponentLen,
                                     CK_ULONG ulKeySelector) = 0;
    virtual CK_RV GetMechanismList(CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) = 0;
    virtual CK_RV GetMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) = 0;
    // Copies the transport name, without a NUL, into pName; CKR_BUFFER_TOO_SMALL when ulCapacity is
    // below its length.
    virtual CK_RV GetTransportName(char* pName, CK_ULONG ulCapacity) = 0;
    // Largest APDU data field: 2,045 with the large-payload flag, else 232.
    virtual CK_ULONG GetMaxApduData() = 0;
    // 0 or CKR_DEVICE_ERROR. Calls the slot's caller under its lock.
    virtual CK_RV OpenDevice() = 0;
    virtual CK_RV CloseDevice() = 0;
    virtual CK_RV ResetSecurityState() = 0;
    virtual CK_RV Unsupported7() = 0;
    virtual CK_RV Reserved2() = 0;
    virtual CK_RV Reserved3() = 0;
    virtual CK_RV Reserved4() = 0;
    virtual CK_RV GetTokenInfo(CK_TOKEN_INFO_PTR pInfo) = 0;
    virtual CK_FLAGS GetTokenFlags() = 0;
    virtual void SetTokenFlags(CK_FLAGS flags) = 0;
    virtual CK_RV Reserved5() = 0;
    virtual CK_RV LoadApplicationName() = 0;
    // Opens the application by its loaded name; the id, or 0 when it cannot be opened.
    virtual uint16_t GetApplicationId() = 0;
    virtual TokenStatus TransmitSecure(const APDU_RECORD& record, unsigned char* pbAnswer, CK_ULONG* pulAnswerLen) = 0;
    // Records the endpoints and interface subclass of the device. 0, or CKR_GENERAL_ERROR without an
    // IN endpoint.
    virtual CK_RV SelectEndpoints(struct usb_device* pDevice) = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;

    // ---- the command set ----
    // The caller's command unchanged; the answer with its two status bytes goes to pbAnswer
    // (*pulAnswerLen: capacity in, data + 2 out).
    virtual TokenStatus TransmitRawApdu(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbAnswer,
                                        CK_ULONG* pulAnswerLen) = 0;
    virtual TokenStatus SetLabel(const char* pszLabel, CK_ULONG ulLabelLen) = 0;
    virtual TokenStatus GetDevInfo(unsigned char* pbInfo, CK_ULONG* pulInfoLen) = 0;
    virtual TokenStatus DevAuth(const unsigned char* pbAuthData, CK_ULONG ulAuthDataLen) = 0;
    // 20 bytes prepared by the caller: 16 bytes and a 4-byte MAC.
    virtual TokenStatus ChangeDevAuthKey(const unsigned char* pbData, CK_ULONG ulDataLen) = 0;
    virtual TokenStatus QueryPinInfo(uint8_t bPinType, uint16_t usAppId, uint8_t* pbMaxRetries, uint8_t* pbTriesLeft,
                                     uint8_t* pbDefaultPin) = 0;
    virtual TokenStatus GenRandom(unsigned char* pbRandom, CK_ULONG ulRandomLen) = 0;
    virtual TokenStatus ChangePin(uint8_t bPinType, uint16_t usAppId, const char* pszNewPin, CK_ULONG ulNewPinLen,
                                  const char* pszOldPin, CK_ULONG ulOldPinLen) = 0;
    virtual TokenStatus VerifyPin(uint8_t bPinType, uint16_t usAppId, const char* pszPin, CK_ULONG ulPinLen) = 0;
    virtual TokenStatus UnblockPin(uint16_t usAppId, const char* pszNewUserPin, CK_ULONG ulNewUserPinLen,
                                   const char* pszAdminPin, CK_ULONG ulAdminPinLen) = 0;
    virtual TokenStatus ClearSecureState(uint16_t usAppId) = 0;
    virtual TokenStatus CreateApplication(const char* pszName, const char* pszAdminPin, uint8_t bAdminRetries,
                                          const char* pszUserPin, uint8_t bUserRetries, uint8_t bCreateFileRights) = 0;
    virtual TokenStatus EnumApplication(char* pszNames, CK_ULONG* pulNamesLen) = 0;
    virtual TokenStatus DeleteApplication(const char* pszName) = 0;
    // The four leading answer fields are optional outs; *pusAppId receives the application id.
    virtual TokenStatus OpenApplication(const char* pszName, uint16_t* pusAppId, uint32_t* pulWord = nullptr,
                                        uint8_t* pbByte1 = nullptr, uint8_t* pbByte2 = nullptr,
                                        uint16_t* pusShort = nullptr) = 0;
    virtual TokenStatus CloseApplication(uint16_t usAppId) = 0;
    virtual TokenStatus CreateFile(uint16_t usAppId, const char* pszName, uint32_t ulFileSize, uint8_t bReadRights,
                                   uint8_t bWriteRights) = 0;
    virtual TokenStatus DeleteFile(uint16_t usAppId, const char* pszName) = 0;
    virtual TokenStatus EnumFiles(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) = 0;
    // 12 bytes of file attributes into pbInfo (*pulInfoLen: capacity in, length out).
    virtual TokenStatus GetFileInfo(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                    CK_ULONG* pulInfoLen) = 0;
    virtual TokenStatus ReadFile(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, CK_ULONG ulCount,
                                 unsigned char* pbData, CK_ULONG* pulReadLen) = 0;
    virtual TokenStatus WriteFile(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, const unsigned char* pbData,
                                  CK_ULONG ulDataLen) = 0;
    virtual TokenStatus CreateContainer(uint16_t usAppId, const char* pszName, uint16_t* pusContainerId) = 0;
    virtual TokenStatus OpenContainer(uint16_t usAppId, const char* pszName, uint16_t* pusContainerId) = 0;
    virtual TokenStatus CloseContainer(uint16_t usAppId, uint16_t usContainerId) = 0;
    virtual TokenStatus EnumContainer(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) = 0;
    virtual TokenStatus DeleteContainer(uint16_t usAppId, const char* pszName) = 0;
    virtual TokenStatus GetContainerType(uint16_t usAppId, const char* pszName, uint32_t* pulType) = 0;
    virtual TokenStatus ImportCertificate(uint16_t usAppId, uint16_t usContainerId, bool bSigning,
                                          const unsigned char* pbCert, CK_ULONG ulCertLen) = 0;
    // The certificate without its 4-byte length prefix.
    virtual TokenStatus ExportCertificate(uint16_t usAppId, uint16_t usContainerId, bool bSigning,
                                          unsigned char* pbCert, CK_ULONG* pulCertLen) = 0;
    // X (32) then Y (32) into pbPublicKey (*pulPublicKeyLen: capacity in, length out).
    virtual TokenStatus GenEccKeyPair(uint16_t usAppId, uint16_t usContainerId, unsigned char* pbPublicKey,
                                      CK_ULONG* pulPublicKeyLen) = 0;
    virtual TokenStatus ImportEccKeyPair(uint16_t usAppId, uint16_t usContainerId, uint32_t ulSymmAlgId,
                                         const unsigned char* pbC1X, const unsigned char* pbC1Y,
                                         const unsigned char* pbC3, const unsigned char* pbC2, CK_ULONG ulC2Len,
                                         const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                         const unsigned char* pbEncryptedPrivateKey,
                                         CK_ULONG ulEncryptedPrivateKeyLen) = 0;
    // Signs a 32-byte digest with the container's key.
    virtual TokenStatus EccSignData(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbDigest,
                                    unsigned char* pbSignature, CK_ULONG* pulSignatureLen) = 0;
    virtual TokenStatus EccSignDataWithId(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbMessage,
                                          CK_ULONG ulMessageLen, const unsigned char* pbId, CK_ULONG ulIdLen,
                                          unsigned char* pbSignature, CK_ULONG* pulSignatureLen) = 0;
    virtual TokenStatus ExtEccSign(const unsigned char* pbPrivateKey, const unsigned char* pbData, CK_ULONG ulDataLen,
                                   unsigned char* pbSignature, CK_ULONG* pulSignatureLen) = 0;
    virtual TokenStatus EccVerify(const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                  const unsigned char* pbData, CK_ULONG ulDataLen, const unsigned char* pbR,
                                  const unsigned char* pbS) = 0;
    virtual TokenStatus EccExportSessionKey(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbPublicX,
                                            const unsigned char* pbPublicY, uint32_t ulAlgId, unsigned char* pbOutput,
                                            CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus ExtEccEncrypt(const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                      const unsigned char* pbPlain, CK_ULONG ulPlainLen, unsigned char* pbCipher,
                                      CK_ULONG* pulCipherLen) = 0;
    virtual TokenStatus ExtEccDecrypt(const unsigned char* pbPrivateKey, const unsigned char* pbC1X,
                                      const unsigned char* pbC1Y, const unsigned char* pbC3, const unsigned char* pbC2,
                                      CK_ULONG ulC2Len, unsigned char* pbPlain, CK_ULONG* pulPlainLen) = 0;
    virtual TokenStatus GenerateAgreementDataWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                                     const unsigned char* pbId, CK_ULONG ulIdLen,
                                                     unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus GenerateAgreementDataAndKeyWithEcc(
        uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId, const unsigned char* pbSponsorX,
        const unsigned char* pbSponsorY, const unsigned char* pbSponsorTempX, const unsigned char* pbSponsorTempY,
        const unsigned char* pbSponsorId, CK_ULONG ulSponsorIdLen, const unsigned char* pbOwnId, CK_ULONG ulOwnIdLen,
        unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus GenerateKeyWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAgreementId,
                                           const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                           const unsigned char* pbTempX, const unsigned char* pbTempY,
                                           const unsigned char* pbId, CK_ULONG ulIdLen, uint16_t* pusKeyIndex) = 0;
    // ulKeySelector: 0 signing key, 1 exchange key.
    virtual TokenStatus ExportPublicKey(uint16_t usAppId, uint16_t usContainerId, CK_ULONG ulKeySelector,
                                        unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) = 0;
    virtual TokenStatus ImportSessionKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                         const unsigned char* pbWrappedKey, CK_ULONG ulWrappedKeyLen,
                                         uint16_t* pusKeyIndex) = 0;
    virtual TokenStatus SetSymmKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                   const unsigned char* pbKey, CK_ULONG ulKeyLen, uint16_t* pusKeyIndex) = 0;
    virtual TokenStatus SetSymmKeyPlain(uint32_t ulAlgId, const unsigned char* pbKey, CK_ULONG ulKeyLen,
                                        uint16_t* pusKeyIndex) = 0;
    virtual TokenStatus CipherInit(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                   uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                   uint32_t ulPaddingType, uint32_t ulFeedBitLen) = 0;
    virtual TokenStatus CipherInitEx(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen) = 0;
    virtual TokenStatus CipherSingle(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                     const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                     CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus CipherUpdate(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                     const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                     CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus CipherUpdateWithIv(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                           const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                           CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus CipherFinal(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                    const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                    CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus CipherFinalWithIv(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                          const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                          CK_ULONG* pulOutputLen) = 0;
    // With pbPublicX null a plain digest; otherwise the SM2 preprocessing with the key and id.
    virtual TokenStatus DigestInit(uint8_t bAlgId, const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                   const unsigned char* pbId, CK_ULONG ulIdLen) = 0;
    virtual TokenStatus Digest(const unsigned char* pbData, CK_ULONG ulDataLen, uint16_t usDigestLen,
                               unsigned char* pbDigest, CK_ULONG* pulDigestLen) = 0;
    virtual TokenStatus DigestUpdate(const unsigned char* pbData, CK_ULONG ulDataLen) = 0;
    virtual TokenStatus DigestFinal(const unsigned char* pbData, CK_ULONG ulDataLen, uint16_t usDigestLen,
                                    unsigned char* pbDigest, CK_ULONG* pulDigestLen) = 0;
    virtual TokenStatus MacInit(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, uint32_t ulAlgId,
                                const unsigned char* pbIv, CK_ULONG ulIvLen, uint32_t ulPaddingType,
                                uint32_t ulFeedBitLen) = 0;
    virtual TokenStatus Mac(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, const unsigned char* pbData,
                            CK_ULONG ulDataLen, unsigned char* pbMac, CK_ULONG* pulMacLen) = 0;
    virtual TokenStatus MacUpdate(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                  const unsigned char* pbData, CK_ULONG ulDataLen) = 0;
    virtual TokenStatus MacFinal(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                 const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbMac,
                                 CK_ULONG* pulMacLen) = 0;
    virtual TokenStatus CloseSessionKey(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex) = 0;
    // The answer (public key) into pbPublicKey; the status word, CKR_BUFFER_TOO_SMALL for a short buffer.
    virtual TokenStatus GenRsaKeyPair(uint16_t usAppId, uint16_t usContainerId, uint16_t usModulusBits,
                                      unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) = 0;
    virtual TokenStatus ImportRsaKeyPair(uint16_t usAppId, uint16_t usContainerId, uint32_t ulSymmAlgId,
                                         const unsigned char* pbWrappedKey, CK_ULONG ulWrappedKeyLen,
                                         uint32_t ulModulusBits, const unsigned char* pbEncryptedKeyPair,
                                         CK_ULONG ulEncryptedKeyPairLen) = 0;
    virtual TokenStatus RsaSignData(uint16_t usAppId, uint16_t usContainerId, uint8_t bKeyUsage,
                                    const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbSignature,
                                    CK_ULONG* pulSignatureLen) = 0;
    // pbExponent is 4 bytes. 0 for 0x9000, else CKR_FUNCTION_FAILED.
    virtual TokenStatus RsaVerify(bool bFlag, uint8_t bKeyUsage, uint32_t ulModulusBits, const unsigned char* pbModulus,
                                  const unsigned char* pbExponent, const unsigned char* pbData, CK_ULONG ulDataLen,
                                  const unsigned char* pbSignature, CK_ULONG ulSignatureLen) = 0;
    virtual TokenStatus RsaExportSessionKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                            uint32_t ulModulusBits, const unsigned char* pbModulus,
                                            const unsigned char* pbExponent, unsigned char* pbOutput,
                                            CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus ExtRsaPubKeyOperation(uint32_t ulModulusBits, const unsigned char* pbModulus,
                                              const unsigned char* pbExponent, const unsigned char* pbInput,
                                              CK_ULONG ulInputLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    // The file commands of the second file space.
    virtual TokenStatus CreateFileEx(uint16_t usAppId, const char* pszName, uint32_t ulFileSize, uint8_t bReadRights,
                                     uint8_t bWriteRights) = 0;
    virtual TokenStatus DeleteFileEx(uint16_t usAppId, const char* pszName) = 0;
    virtual TokenStatus EnumFilesEx(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) = 0;
    virtual TokenStatus GetFileInfoEx(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                      CK_ULONG* pulInfoLen) = 0;
    virtual TokenStatus ReadFileEx(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, CK_ULONG ulCount,
                                   unsigned char* pbData, CK_ULONG* pulReadLen) = 0;
    virtual TokenStatus WriteFileEx(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset,
                                    const unsigned char* pbData, CK_ULONG ulDataLen) = 0;
    // Two entries of the same command; 0 for 0x9000, else CKR_FUNCTION_FAILED.
    virtual TokenStatus DeleteContainerByName(uint16_t usAppId, const char* pszName) = 0;
    virtual TokenStatus DeleteContainerByName(uint16_t usAppId, const std::string& name) = 0;
    // The 11 answer bytes of the container-type command into pbInfo.
    virtual TokenStatus GetContainerInfo(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                         CK_ULONG* pulInfoLen) = 0;
    virtual TokenStatus SymmetricCipherWithKey(uint8_t bAlgId, uint8_t bMode, const unsigned char* pbKey,
                                               CK_ULONG ulKeyLen, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                               const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                               CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus SendAccessCode() = 0;
    // Raw RSA with a container key after the access code. bKeySelector 1 or 2; on a final call no
    // output is returned (and none may be passed).
    virtual TokenStatus ContainerKeyCommand(uint8_t bKeySelector, bool bFinal, uint16_t usAppId, uint16_t usContainerId,
                                            uint8_t bFlag, const unsigned char* pbData, CK_ULONG ulDataLen,
                                            unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus ContainerKeyCommandEx(uint8_t bKeySelector, bool bFinal, uint16_t usAppId,
                                              uint16_t usContainerId, uint8_t bFlag, const unsigned char* pbData,
                                              CK_ULONG ulDataLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    virtual TokenStatus ImportWrappedKeyPair(uint8_t bKeyType, uint8_t bUsage, uint16_t usAppId, uint16_t usContainerId,
                                             uint32_t ulWrapAlgId, uint16_t usKeyIndex, uint32_t ulKeyBits,
                                             const unsigned char* pbBlob, CK_ULONG ulBlobLen) = 0;
    virtual TokenStatus GenRsaKeyPairEx(bool bSigning, uint16_t usAppId, uint16_t usContainerId, uint16_t usModulusBits,
                                        unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) = 0;
    // 0 for 0x9000, else CKR_FUNCTION_FAILED.
    virtual TokenStatus PrepareDevAuthKeyChange() = 0;
    virtual TokenStatus GenExtRsaKey(uint16_t usModulusBits, unsigned char* pbKeyPair, CK_ULONG* pulKeyPairLen) = 0;
    // pbExponent is 4 bytes; the private exponent is bits/8 bytes, the five CRT parts bits/16 each.
    virtual TokenStatus ExtRsaPriKeyOperation(uint32_t ulModulusBits, const unsigned char* pbModulus,
                                              const unsigned char* pbExponent, const unsigned char* pbPrivateExponent,
                                              const unsigned char* pbPrime1, const unsigned char* pbPrime2,
                                              const unsigned char* pbExponent1, const unsigned char* pbExponent2,
                                              const unsigned char* pbCoefficient, const unsigned char* pbInput,
                                              CK_ULONG ulInputLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    // Sends a new 16-byte device key encrypted to the token's SM2 key; the answer replaces *pAnswer.
    virtual TokenStatus ChangeDevAuthKeySm2(const unsigned char* pbNewKey, std::vector<unsigned char>* pAnswer) = 0;

    // ---- DER and the wire ----
    // INTEGER of a big-endian magnitude. 1, or 0 when the input is too long or an argument is missing.
    virtual int EncodeDerInteger(const unsigned char* pbValue, CK_ULONG ulValueLen, unsigned char* pbOutput,
                                 CK_ULONG* pulOutputLen) = 0;
    // PKCS #1 RSAPrivateKey. With pbOutput null only the length is stored; otherwise *pulOutputLen is
    // the capacity on entry and a short buffer fails without a write.
    virtual bool EncodeRsaPrivateKey(uint8_t bVersion, const unsigned char* pbModulus, CK_ULONG ulModulusLen,
                                     const unsigned char* pbPublicExponent, CK_ULONG ulPublicExponentLen,
                                     const unsigned char* pbPrivateExponent, CK_ULONG ulPrivateExponentLen,
                                     const unsigned char* pbPrime1, CK_ULONG ulPrime1Len, const unsigned char* pbPrime2,
                                     CK_ULONG ulPrime2Len, const unsigned char* pbExponent1, CK_ULONG ulExponent1Len,
                                     const unsigned char* pbExponent2, CK_ULONG ulExponent2Len,
                                     const unsigned char* pbCoefficient, CK_ULONG ulCoefficientLen,
                                     unsigned char* pbOutput, CK_ULONG* pulOutputLen) = 0;
    // One command out, one answer (data and status bytes) in. *pulResponseLen: capacity in, length out.
    // Holds the device lock for the exchange. 0, or a CK_RV / errno value on failure.
    virtual CK_RV TransmitFrame(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                                CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs) = 0;
    virtual std::vector<uint8_t> BuildApdu(const APDU_RECORD& record) = 0;
    // The status word, or kApduTransportFailure / kApduBufferTooSmall. With pbData null and pulDataLen
    // set only the data length is stored.
    virtual long TransmitApdu(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbData,
                              CK_ULONG* pulDataLen, CK_ULONG ulTimeoutMs) = 0;

    const std::string& GetDevicePath() const { return m_devicePath; }
    CSlot* GetSlot() const { return m_pSlot; }
    bool IsOpen() const { return m_hUsb != NoUsbHandle(); }

protected:
    CSlot* m_pSlot;
    CK_TOKEN_INFO m_tokenInfo;
    unsigned char m_soPinCache[kSoPinCacheSize];
    std::string m_devicePath;
    std::map<CK_MECHANISM_TYPE, CK_MECHANISM_INFO> m_mechanisms;
    CProcessMutex m_deviceMutex;
    usb_dev_handle* m_hUsb;
    uint64_t m_ulInEndpoint = 0;
    uint64_t m_ulOutEndpoint = 0;
    uint64_t m_ulInterfaceSubClass = 0;
    uint8_t m_pinTypeBytes[2] = {0, 0};
};

} // namespace keycore
