#pragma once
// The token object of the product family: token-level operations, the mechanism table, the current
// application and the whole APDU command set, over an abstract frame exchange that the transport
// classes (Bulk-Only and HID) supply. See CTokenBase for the contracts and the locking rules.

#include "device/token_base.h"

#include <string>

namespace keycore {

class CToken5105 : public CTokenBase {
public:
    // Transport operations (GetDeviceType, GetTransportName, OpenDevice, CloseDevice, TransmitFrame)
    // stay abstract: the Bulk-Only and HID classes supply them.
    // The third argument is the slot's own flag; the token object does not use it.
    CToken5105(CSlot* pSlot, const std::string& devicePath, bool bSlotFlag);
    ~CToken5105() override;

    CK_RV SetPinTypeBytes(uint8_t bAdminPinType, uint8_t bUserPinType) override;
    // Records the endpoints and interface subclass of the device's first configuration (the same for
    // both framings); CKR_GENERAL_ERROR when it has no IN endpoint.
    CK_RV SelectEndpoints(struct usb_device* pDevice) override;
    CK_RV Lock() override;
    CK_RV Unlock() override;
    std::vector<unsigned char> HashToId(const unsigned char* pbData, CK_ULONG ulDataLen) override;
    CK_RV InitToken(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) override;
    CK_RV Finalize() override;
    CK_RV EnsureApplication() override;
    CK_RV Login(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) override;
    CK_RV InitPin(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) override;
    CK_RV SetPin(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
                 CK_ULONG ulNewLen) override;
    CK_RV GetSoPinCache(unsigned char pbPin[kSoPinCacheSize]) override;
    CK_RV GetPinInfo(AUX_PIN_INFO_PTR pInfo) override;
    CK_RV GenerateRsaKeyPair(uint16_t usContainerId, CK_ULONG ulModulusBits, CK_ULONG* pulExponent,
                             unsigned char* pbModulus, CK_ULONG* pulModulusLen) override;
    CK_RV GenerateRsaKeyPairEx(uint16_t usContainerId, CK_ULONG ulModulusBits, CK_ULONG* pulExponent,
                               unsigned char* pbModulus, CK_ULONG* pulModulusLen) override;
    CK_RV CreateContainerNamed(std::string& name, uint16_t* pusContainerId) override;
    CK_RV Reserved1() override;
    CK_RV ImportRsaKeyObject(const unsigned char* pbModulus, CK_ULONG ulModulusLen,
                             const unsigned char* pbPublicExponent, CK_ULONG ulPublicExponentLen,
                             const unsigned char* pbPrivateExponent, CK_ULONG ulPrivateExponentLen,
                             const unsigned char* pbPrime1, CK_ULONG ulPrime1Len, const unsigned char* pbPrime2,
                             CK_ULONG ulPrime2Len, const unsigned char* pbExponent1, CK_ULONG ulExponent1Len,
                             const unsigned char* pbExponent2, CK_ULONG ulExponent2Len,
                             const unsigned char* pbCoefficient, CK_ULONG ulCoefficientLen, std::string& containerName,
                             uint16_t* pusContainerId, uint8_t bUsage) override;
    CK_RV Unsupported1() override;
    CK_RV Unsupported2() override;
    CK_RV Unsupported3() override;
    CK_RV Unsupported4() override;
    CK_RV Unsupported5() override;
    CK_RV Unsupported6() override;
    CK_RV RsaPrivateOperation(uint16_t usContainerId, const unsigned char* pbData, CK_ULONG ulDataLen,
                              unsigned char* pbOutput, CK_ULONG* pulOutputLen, uint8_t bKeyUsage) override;
    CK_RV ExportRsaPublicKey(const std::string& containerName, unsigned char* pbModulus, CK_ULONG* pulModulusLen,
                             unsigned char* pbExponent, CK_ULONG* pulExponentLen, CK_ULONG ulKeySelector) override;
    CK_RV GetMechanismList(CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) override;
    CK_RV GetMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) override;
    CK_ULONG GetMaxApduData() override;
    CK_RV ResetSecurityState() override;
    CK_RV Unsupported7() override;
    CK_RV Reserved2() override;
    CK_RV Reserved3() override;
    CK_RV Reserved4() override;
    CK_RV GetTokenInfo(CK_TOKEN_INFO_PTR pInfo) override;
    CK_FLAGS GetTokenFlags() override;
    void SetTokenFlags(CK_FLAGS flags) override;
    CK_RV Reserved5() override;
    CK_RV LoadApplicationName() override;
    uint16_t GetApplicationId() override;
    TokenStatus TransmitSecure(const APDU_RECORD& record, unsigned char* pbAnswer, CK_ULONG* pulAnswerLen) override;
    void Reserved6() override;
    void Reserved7() override;

    TokenStatus TransmitRawApdu(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbAnswer,
                                CK_ULONG* pulAnswerLen) override;
    TokenStatus SetLabel(const char* pszLabel, CK_ULONG ulLabelLen) override;
    TokenStatus GetDevInfo(unsigned char* pbInfo, CK_ULONG* pulInfoLen) override;
    TokenStatus DevAuth(const unsigned char* pbAuthData, CK_ULONG ulAuthDataLen) override;
    TokenStatus ChangeDevAuthKey(const unsigned char* pbData, CK_ULONG ulDataLen) override;
    TokenStatus QueryPinInfo(uint8_t bPinType, uint16_t usAppId, uint8_t* pbMaxRetries, uint8_t* pbTriesLeft,
                             uint8_t* pbDefaultPin) override;
    TokenStatus GenRandom(unsigned char* pbRandom, CK_ULONG ulRandomLen) override;
    TokenStatus ChangePin(uint8_t bPinType, uint16_t usAppId, const char* pszNewPin, CK_ULONG ulNewPinLen,
                          const char* pszOldPin, CK_ULONG ulOldPinLen) override;
    TokenStatus VerifyPin(uint8_t bPinType, uint16_t usAppId, const char* pszPin, CK_ULONG ulPinLen) override;
    TokenStatus UnblockPin(uint16_t usAppId, const char* pszNewUserPin, CK_ULONG ulNewUserPinLen,
                           const char* pszAdminPin, CK_ULONG ulAdminPinLen) override;
    TokenStatus ClearSecureState(uint16_t usAppId) override;
    TokenStatus CreateApplication(const char* pszName, const char* pszAdminPin, uint8_t bAdminRetries,
                                  const char* pszUserPin, uint8_t bUserRetries, uint8_t bCreateFileRights) override;
    TokenStatus EnumApplication(char* pszNames, CK_ULONG* pulNamesLen) override;
    TokenStatus DeleteApplication(const char* pszName) override;
    TokenStatus OpenApplication(const char* pszName, uint16_t* pusAppId, uint32_t* pulWord, uint8_t* pbByte1,
                                uint8_t* pbByte2, uint16_t* pusShort) override;
    TokenStatus CloseApplication(uint16_t usAppId) override;
    TokenStatus CreateFile(uint16_t usAppId, const char* pszName, uint32_t ulFileSize, uint8_t bReadRights,
                           uint8_t bWriteRights) override;
    TokenStatus DeleteFile(uint16_t usAppId, const char* pszName) override;
    TokenStatus EnumFiles(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) override;
    TokenStatus GetFileInfo(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                            CK_ULONG* pulInfoLen) override;
    TokenStatus ReadFile(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, CK_ULONG ulCount,
                         unsigned char* pbData, CK_ULONG* pulReadLen) override;
    TokenStatus WriteFile(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, const unsigned char* pbData,
                          CK_ULONG ulDataLen) override;
    TokenStatus CreateContainer(uint16_t usAppId, const char* pszName, uint16_t* pusContainerId) override;
    TokenStatus OpenContainer(uint16_t usAppId, const char* pszName, uint16_t* pusContainerId) override;
    TokenStatus CloseContainer(uint16_t usAppId, uint16_t usContainerId) override;
    TokenStatus EnumContainer(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) override;
    TokenStatus DeleteContainer(uint16_t usAppId, const char* pszName) override;
    TokenStatus GetContainerType(uint16_t usAppId, const char* pszName, uint32_t* pulType) override;
    TokenStatus ImportCertificate(uint16_t usAppId, uint16_t usContainerId, bool bSigning, const unsigned char* pbCert,
                                  CK_ULONG ulCertLen) override;
    TokenStatus ExportCertificate(uint16_t usAppId, uint16_t usContainerId, bool bSigning, unsigned char* pbCert,
                                  CK_ULONG* pulCertLen) override;
    TokenStatus GenEccKeyPair(uint16_t usAppId, uint16_t usContainerId, unsigned char* pbPublicKey,
                              CK_ULONG* pulPublicKeyLen) override;
    TokenStatus ImportEccKeyPair(uint16_t usAppId, uint16_t usContainerId, uint32_t ulSymmAlgId,
                                 const unsigned char* pbC1X, const unsigned char* pbC1Y, const unsigned char* pbC3,
                                 const unsigned char* pbC2, CK_ULONG ulC2Len, const unsigned char* pbPublicX,
                                 const unsigned char* pbPublicY, const unsigned char* pbEncryptedPrivateKey,
                                 CK_ULONG ulEncryptedPrivateKeyLen) override;
    TokenStatus EccSignData(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbDigest,
                            unsigned char* pbSignature, CK_ULONG* pulSignatureLen) override;
    TokenStatus EccSignDataWithId(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbMessage,
                                  CK_ULONG ulMessageLen, const unsigned char* pbId, CK_ULONG ulIdLen,
                                  unsigned char* pbSignature, CK_ULONG* pulSignatureLen) override;
    TokenStatus ExtEccSign(const unsigned char* pbPrivateKey, const unsigned char* pbData, CK_ULONG ulDataLen,
                           unsigned char* pbSignature, CK_ULONG* pulSignatureLen) override;
    TokenStatus EccVerify(const unsigned char* pbPublicX, const unsigned char* pbPublicY, const unsigned char* pbData,
                          CK_ULONG ulDataLen, const unsigned char* pbR, const unsigned char* pbS) override;
    TokenStatus EccExportSessionKey(uint16_t usAppId, uint16_t usContainerId, const unsigned char* pbPublicX,
                                    const unsigned char* pbPublicY, uint32_t ulAlgId, unsigned char* pbOutput,
                                    CK_ULONG* pulOutputLen) override;
    TokenStatus ExtEccEncrypt(const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                              const unsigned char* pbPlain, CK_ULONG ulPlainLen, unsigned char* pbCipher,
                              CK_ULONG* pulCipherLen) override;
    TokenStatus ExtEccDecrypt(const unsigned char* pbPrivateKey, const unsigned char* pbC1X, const unsigned char* pbC1Y,
                              const unsigned char* pbC3, const unsigned char* pbC2, CK_ULONG ulC2Len,
                              unsigned char* pbPlain, CK_ULONG* pulPlainLen) override;
    TokenStatus GenerateAgreementDataWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                             const unsigned char* pbId, CK_ULONG ulIdLen, unsigned char* pbOutput,
                                             CK_ULONG* pulOutputLen) override;
    TokenStatus GenerateAgreementDataAndKeyWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                                   const unsigned char* pbSponsorX, const unsigned char* pbSponsorY,
                                                   const unsigned char* pbSponsorTempX,
                                                   const unsigned char* pbSponsorTempY,
                                                   const unsigned char* pbSponsorId, CK_ULONG ulSponsorIdLen,
                                                   const unsigned char* pbOwnId, CK_ULONG ulOwnIdLen,
                                                   unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus GenerateKeyWithEcc(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAgreementId,
                                   const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                                   const unsigned char* pbTempX, const unsigned char* pbTempY,
                                   const unsigned char* pbId, CK_ULONG ulIdLen, uint16_t* pusKeyIndex) override;
    TokenStatus ExportPublicKey(uint16_t usAppId, uint16_t usContainerId, CK_ULONG ulKeySelector,
                                unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) override;
    TokenStatus ImportSessionKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId,
                                 const unsigned char* pbWrappedKey, CK_ULONG ulWrappedKeyLen,
                                 uint16_t* pusKeyIndex) override;
    TokenStatus SetSymmKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId, const unsigned char* pbKey,
                           CK_ULONG ulKeyLen, uint16_t* pusKeyIndex) override;
    TokenStatus SetSymmKeyPlain(uint32_t ulAlgId, const unsigned char* pbKey, CK_ULONG ulKeyLen,
                                uint16_t* pusKeyIndex) override;
    TokenStatus CipherInit(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                           uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen, uint32_t ulPaddingType,
                           uint32_t ulFeedBitLen) override;
    TokenStatus CipherInitEx(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen) override;
    TokenStatus CipherSingle(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                             const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                             CK_ULONG* pulOutputLen) override;
    TokenStatus CipherUpdate(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                             const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                             CK_ULONG* pulOutputLen) override;
    TokenStatus CipherUpdateWithIv(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                   const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                   CK_ULONG* pulOutputLen) override;
    TokenStatus CipherFinal(bool bEncrypt, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                            const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                            CK_ULONG* pulOutputLen) override;
    TokenStatus CipherFinalWithIv(bool bEncrypt, uint32_t ulAlgId, const unsigned char* pbIv, CK_ULONG ulIvLen,
                                  const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                  CK_ULONG* pulOutputLen) override;
    TokenStatus DigestInit(uint8_t bAlgId, const unsigned char* pbPublicX, const unsigned char* pbPublicY,
                           const unsigned char* pbId, CK_ULONG ulIdLen) override;
    TokenStatus Digest(const unsigned char* pbData, CK_ULONG ulDataLen, uint16_t usDigestLen, unsigned char* pbDigest,
                       CK_ULONG* pulDigestLen) override;
    TokenStatus DigestUpdate(const unsigned char* pbData, CK_ULONG ulDataLen) override;
    TokenStatus DigestFinal(const unsigned char* pbData, CK_ULONG ulDataLen, uint16_t usDigestLen,
                            unsigned char* pbDigest, CK_ULONG* pulDigestLen) override;
    TokenStatus MacInit(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, uint32_t ulAlgId,
                        const unsigned char* pbIv, CK_ULONG ulIvLen, uint32_t ulPaddingType,
                        uint32_t ulFeedBitLen) override;
    TokenStatus Mac(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, const unsigned char* pbData,
                    CK_ULONG ulDataLen, unsigned char* pbMac, CK_ULONG* pulMacLen) override;
    TokenStatus MacUpdate(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, const unsigned char* pbData,
                          CK_ULONG ulDataLen) override;
    TokenStatus MacFinal(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex, const unsigned char* pbData,
                         CK_ULONG ulDataLen, unsigned char* pbMac, CK_ULONG* pulMacLen) override;
    TokenStatus CloseSessionKey(uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex) override;
    TokenStatus GenRsaKeyPair(uint16_t usAppId, uint16_t usContainerId, uint16_t usModulusBits,
                              unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) override;
    TokenStatus ImportRsaKeyPair(uint16_t usAppId, uint16_t usContainerId, uint32_t ulSymmAlgId,
                                 const unsigned char* pbWrappedKey, CK_ULONG ulWrappedKeyLen, uint32_t ulModulusBits,
                                 const unsigned char* pbEncryptedKeyPair, CK_ULONG ulEncryptedKeyPairLen) override;
    TokenStatus RsaSignData(uint16_t usAppId, uint16_t usContainerId, uint8_t bKeyUsage, const unsigned char* pbData,
                            CK_ULONG ulDataLen, unsigned char* pbSignature, CK_ULONG* pulSignatureLen) override;
    TokenStatus RsaVerify(bool bFlag, uint8_t bKeyUsage, uint32_t ulModulusBits, const unsigned char* pbModulus,
                          const unsigned char* pbExponent, const unsigned char* pbData, CK_ULONG ulDataLen,
                          const unsigned char* pbSignature, CK_ULONG ulSignatureLen) override;
    TokenStatus RsaExportSessionKey(uint16_t usAppId, uint16_t usContainerId, uint32_t ulAlgId, uint32_t ulModulusBits,
                                    const unsigned char* pbModulus, const unsigned char* pbExponent,
                                    unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus ExtRsaPubKeyOperation(uint32_t ulModulusBits, const unsigned char* pbModulus,
                                      const unsigned char* pbExponent, const unsigned char* pbInput,
                                      CK_ULONG ulInputLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus CreateFileEx(uint16_t usAppId, const char* pszName, uint32_t ulFileSize, uint8_t bReadRights,
                             uint8_t bWriteRights) override;
    TokenStatus DeleteFileEx(uint16_t usAppId, const char* pszName) override;
    TokenStatus EnumFilesEx(uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen) override;
    TokenStatus GetFileInfoEx(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                              CK_ULONG* pulInfoLen) override;
    TokenStatus ReadFileEx(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, CK_ULONG ulCount,
                           unsigned char* pbData, CK_ULONG* pulReadLen) override;
    TokenStatus WriteFileEx(uint16_t usAppId, const char* pszName, CK_ULONG ulOffset, const unsigned char* pbData,
                            CK_ULONG ulDataLen) override;
    TokenStatus DeleteContainerByName(uint16_t usAppId, const char* pszName) override;
    TokenStatus DeleteContainerByName(uint16_t usAppId, const std::string& name) override;
    TokenStatus GetContainerInfo(uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                                 CK_ULONG* pulInfoLen) override;
    TokenStatus SymmetricCipherWithKey(uint8_t bAlgId, uint8_t bMode, const unsigned char* pbKey, CK_ULONG ulKeyLen,
                                       const unsigned char* pbIv, CK_ULONG ulIvLen, const unsigned char* pbData,
                                       CK_ULONG ulDataLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus SendAccessCode() override;
    TokenStatus ContainerKeyCommand(uint8_t bKeySelector, bool bFinal, uint16_t usAppId, uint16_t usContainerId,
                                    uint8_t bFlag, const unsigned char* pbData, CK_ULONG ulDataLen,
                                    unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus ContainerKeyCommandEx(uint8_t bKeySelector, bool bFinal, uint16_t usAppId, uint16_t usContainerId,
                                      uint8_t bFlag, const unsigned char* pbData, CK_ULONG ulDataLen,
                                      unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus ImportWrappedKeyPair(uint8_t bKeyType, uint8_t bUsage, uint16_t usAppId, uint16_t usContainerId,
                                     uint32_t ulWrapAlgId, uint16_t usKeyIndex, uint32_t ulKeyBits,
                                     const unsigned char* pbBlob, CK_ULONG ulBlobLen) override;
    TokenStatus GenRsaKeyPairEx(bool bSigning, uint16_t usAppId, uint16_t usContainerId, uint16_t usModulusBits,
                                unsigned char* pbPublicKey, CK_ULONG* pulPublicKeyLen) override;
    TokenStatus PrepareDevAuthKeyChange() override;
    TokenStatus GenExtRsaKey(uint16_t usModulusBits, unsigned char* pbKeyPair, CK_ULONG* pulKeyPairLen) override;
    TokenStatus ExtRsaPriKeyOperation(uint32_t ulModulusBits, const unsigned char* pbModulus,
                                      const unsigned char* pbExponent, const unsigned char* pbPrivateExponent,
                                      const unsigned char* pbPrime1, const unsigned char* pbPrime2,
                                      const unsigned char* pbExponent1, const unsigned char* pbExponent2,
                                      const unsigned char* pbCoefficient, const unsigned char* pbInput,
                                      CK_ULONG ulInputLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen) override;
    TokenStatus ChangeDevAuthKeySm2(const unsigned char* pbNewKey, std::vector<unsigned char>* pAnswer) override;

    int EncodeDerInteger(const unsigned char* pbValue, CK_ULONG ulValueLen, unsigned char* pbOutput,
                         CK_ULONG* pulOutputLen) override;
    bool EncodeRsaPrivateKey(uint8_t bVersion, const unsigned char* pbModulus, CK_ULONG ulModulusLen,
                             const unsigned char* pbPublicExponent, CK_ULONG ulPublicExponentLen,
                             const unsigned char* pbPrivateExponent, CK_ULONG ulPrivateExponentLen,
                             const unsigned char* pbPrime1, CK_ULONG ulPrime1Len, const unsigned char* pbPrime2,
                             CK_ULONG ulPrime2Len, const unsigned char* pbExponent1, CK_ULONG ulExponent1Len,
                             const unsigned char* pbExponent2, CK_ULONG ulExponent2Len,
                             const unsigned char* pbCoefficient, CK_ULONG ulCoefficientLen, unsigned char* pbOutput,
                             CK_ULONG* pulOutputLen) override;
    std::vector<uint8_t> BuildApdu(const APDU_RECORD& record) override;
    long TransmitApdu(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbData,
                      CK_ULONG* pulDataLen, CK_ULONG ulTimeoutMs) override;

    // The stored PIN-type byte for PIN type 0 or 1, or -1 for any other type.
    int PinTypeByte(int pinType) const;
    const std::string& GetApplicationName() const { return m_appName; }
    bool IsApplicationOpen() const { return m_bAppOpened; }

protected:
    // Copies a transport name (without a terminating NUL) into the caller's buffer.
    static CK_RV CopyTransportName(const char* name, size_t length, char* pName, CK_ULONG ulCapacity);
    // Sends one command: the status word, or kSwTransportFailure / CKR_BUFFER_TOO_SMALL.
    TokenStatus SendCommand(const std::vector<uint8_t>& command, unsigned char* pbData = nullptr,
                            CK_ULONG* pulDataLen = nullptr);
    // Sends one command and keeps the whole answer data (up to the exchange's capacity) in answer.
    TokenStatus SendForAnswer(const std::vector<uint8_t>& command, std::vector<uint8_t>& answer);
    // One step of a cipher on a session key (single, update or final, by INS): the command carries
    // app, ctr, key index and data; the output comes back in pbOutput. The command is wiped after use.
    TokenStatus SendKeyedCipherStep(uint8_t ins, uint16_t usAppId, uint16_t usContainerId, uint16_t usKeyIndex,
                                    const unsigned char* pbData, CK_ULONG ulDataLen, unsigned char* pbOutput,
                                    CK_ULONG* pulOutputLen);
    // Copies an answer to a caller buffer: with pbOut null only the length is stored; a smaller
    // capacity stores the needed length and gives CKR_BUFFER_TOO_SMALL.
    static TokenStatus CopyAnswer(const std::vector<uint8_t>& answer, unsigned char* pbOut, CK_ULONG* pulOutLen);
    // The file commands of both file spaces: insOffset 0 for the first, 1 for the second.
    TokenStatus CreateFileIn(uint8_t insOffset, uint16_t usAppId, const char* pszName, uint32_t ulFileSize,
                             uint8_t bReadRights, uint8_t bWriteRights);
    TokenStatus DeleteFileIn(uint8_t insOffset, uint16_t usAppId, const char* pszName);
    TokenStatus EnumFilesIn(uint8_t insOffset, uint16_t usAppId, char* pszNames, CK_ULONG* pulNamesLen);
    TokenStatus GetFileInfoIn(uint8_t insOffset, uint16_t usAppId, const char* pszName, unsigned char* pbInfo,
                              CK_ULONG* pulInfoLen);
    TokenStatus ReadFileIn(uint8_t insOffset, CK_ULONG ulChunk, uint16_t usAppId, const char* pszName,
                           CK_ULONG ulOffset, CK_ULONG ulCount, unsigned char* pbData, CK_ULONG* pulReadLen);
    TokenStatus WriteFileIn(uint8_t insOffset, CK_ULONG ulChunk, uint16_t usAppId, const char* pszName,
                            CK_ULONG ulOffset, const unsigned char* pbData, CK_ULONG ulDataLen);
    // Container-key commands with and without the Ex form.
    TokenStatus ContainerKeyCommandWith(uint8_t bIns, uint8_t bKeySelector, bool bFinal, uint16_t usAppId,
                                        uint16_t usContainerId, uint8_t bFlag, const unsigned char* pbData,
                                        CK_ULONG ulDataLen, unsigned char* pbOutput, CK_ULONG* pulOutputLen);
    // Applies a PIN status word to the LOCKED / COUNT_LOW / FINAL_TRY flags of one PIN.
    void UpdatePinFlags(uint8_t bPinType, uint8_t bMaxRetries, uint8_t bTriesLeft);
    // Random upper-case name for a container created without one.
    static std::string NewContainerName();

    bool m_bLargePayload = false;
    uint64_t m_ulProductId = 0;
    std::string m_appName;
    bool m_bAppNameLoaded = false;
    uint16_t m_usAppId = 0;
    bool m_bAppOpened = false;
};

} // namespace keycore
