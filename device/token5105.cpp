#include "device/token5105.h"

#include "device/apdu_builder.h"
#include "device/der_encode.h"
#include "device/mechanism_table.h"
#include "device/token_identity.h"
#include "device/usb_endpoints.h"
#include "runtime/fatal_assert.h"
#include "runtime/random_hex_name.h"
#include "runtime/secure_wipe.h"

#include <mbedtls/md5.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace keycore {

namespace {

constexpr const char* kManufacturerId = "Quorvel Technologies Co., Ltd.";
constexpr const char* kModel = "Orvex5100GMG";
constexpr const char* kFallbackContainerName = "6AC5EC82F50C4fd380A9";
constexpr size_t kContainerNameLength = 20;

constexpr size_t kDevInfoBufferSize = 1024;
constexpr size_t kDevInfoLabel = 132;
constexpr size_t kDevInfoSerial = 164;
constexpr size_t kDevInfoVersions = 196;
constexpr size_t kDevInfoTotalSpace = 216;
constexpr size_t kDevInfoFreeSpace = 220;
// The device-information answer must reach the end of the free-space field.
constexpr size_t kDevInfoMinimum = kDevInfoFreeSpace + 4;

constexpr size_t kApplicationListSize = 264;
constexpr size_t kRsaDerCapacity = 1536;
constexpr uint32_t kSm4EcbAlgId = 0x401;
constexpr uint8_t kRsaKeyType = 1;
constexpr size_t kPublicKeyAnswerSize = 512;
constexpr size_t kRsaExponentSize = 4;

uint32_t ReadBe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

void CopyPadded(CK_UTF8CHAR* field, size_t fieldSize, const char* text) {
    std::memset(field, ' ', fieldSize);
    std::memcpy(field, text, std::min(fieldSize, std::strlen(text)));
}

// Fills a buffer of len + 1 bytes with the PIN and the NUL the command layer expects; the buffer
// wipes itself when it goes out of scope.
void CopyTerminated(SecureBytes& copy, const void* pin, CK_ULONG len) {
    if (len != 0)
        std::memcpy(copy.data(), pin, len);
    copy.data()[len] = 0;
}

size_t SignificantBits(const unsigned char* value, CK_ULONG len) {
    size_t i = 0;
    while (i < len && value[i] == 0)
        ++i;
    return (len - i) * 8;
}

// Runs one key-pair generation command and unpacks its answer: the modulus (bits/8 bytes) followed
// by the 4-byte public exponent.
template <typename Generate>
CK_RV GenerateRsaPublicKey(Generate generate, CK_ULONG ulModulusBits, CK_ULONG* pulExponent, unsigned char* pbModulus,
                           CK_ULONG* pulModulusLen) {
    if (pulExponent == nullptr || pbModulus == nullptr || pulModulusLen == nullptr || ulModulusBits == 0 ||
        ulModulusBits > 0xFFFF || ulModulusBits % 8 != 0)
        return CKR_ARGUMENTS_BAD;
    std::vector<unsigned char> answer(ulModulusBits / 8 + kRsaExponentSize + kPublicKeyAnswerSize);
    CK_ULONG answerLen = answer.size();
    const TokenStatus status = generate(static_cast<uint16_t>(ulModulusBits), answer.data(), &answerLen);
    if (status != CKR_OK)
        return status;
    const CK_ULONG modulusLen = ulModulusBits / 8;
    if (answerLen < modulusLen + kRsaExponentSize)
        return CKR_DEVICE_ERROR;
    if (*pulModulusLen < modulusLen) {
        *pulModulusLen = modulusLen;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbModulus, answer.data(), modulusLen);
    *pulModulusLen = modulusLen;
    *pulExponent = ReadBe32(answer.data() + modulusLen);
    return CKR_OK;
}

} // namespace

CToken5105::CToken5105(CSlot* pSlot, const std::string& devicePath, bool /*bSlotFlag*/)
    : CTokenBase(pSlot, devicePath) {
    m_tokenInfo.flags = kInitialTokenFlags;
    size_t count = 0;
    const MechanismRow* rows = TokenMechanismRows(&count);
    for (size_t i = 0; i < count; ++i)
        m_mechanisms.emplace(rows[i].type, rows[i].info);
}

CToken5105::~CToken5105() = default;

TokenStatus CToken5105::SendCommand(const std::vector<uint8_t>& command, unsigned char* pbData, CK_ULONG* pulDataLen) {
    const long result = TransmitApdu(command.data(), command.size(), pbData, pulDataLen, kCommandTimeoutMs);
    if (result == kApduBufferTooSmall)
        return CKR_BUFFER_TOO_SMALL;
    if (result < 0)
        return kSwTransportFailure;
    return static_cast<TokenStatus>(result);
}

long CToken5105::TransmitApdu(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbData,
                              CK_ULONG* pulDataLen, CK_ULONG ulTimeoutMs) {
    if (pbCommand == nullptr || ulCommandLen == 0)
        return kApduTransportFailure;
    std::array<unsigned char, kApduAnswerCapacity> answer;
    CK_ULONG answerLen = answer.size();
    const CK_RV rv = TransmitFrame(pbCommand, ulCommandLen, answer.data(), &answerLen, ulTimeoutMs);
    struct WipeAnswer {
        std::array<unsigned char, kApduAnswerCapacity>& bytes;
        ~WipeAnswer() { SecureWipe(bytes.data(), bytes.size()); }
    } wipe{answer};
    // A transport that reports more than the buffer holds is treated as broken, never trusted.
    if (rv != CKR_OK || answerLen < 2 || answerLen > answer.size())
        return kApduTransportFailure;
    const CK_ULONG dataLen = answerLen - 2;
    if (pulDataLen != nullptr) {
        if (pbData != nullptr) {
            if (*pulDataLen < dataLen) {
                *pulDataLen = dataLen;
                return kApduBufferTooSmall;
            }
            if (dataLen != 0)
                std::memcpy(pbData, answer.data(), dataLen);
        }
        *pulDataLen = dataLen;
    }
    return static_cast<long>(answer[answerLen - 2]) << 8 | answer[answerLen - 1];
}

std::vector<uint8_t> CToken5105::BuildApdu(const APDU_RECORD& record) {
    ApduBuilder command = ApduBuilder::Command(record.cla, record.ins, record.p1, record.p2);
    command.Bytes(record.data);
    command.EndData();
    if (record.le >= 0)
        command.U16(static_cast<uint32_t>(record.le));
    return std::move(command.Get());
}

TokenStatus CToken5105::TransmitSecure(const APDU_RECORD& record, unsigned char* pbAnswer, CK_ULONG* pulAnswerLen) {
    if (record.data.size() > 0xFFFF)
        return CKR_ARGUMENTS_BAD;
    return SendCommand(BuildApdu(record), pbAnswer, pulAnswerLen);
}

CK_RV CToken5105::SetPinTypeBytes(uint8_t bAdminPinType, uint8_t bUserPinType) {
    m_pinTypeBytes[0] = bAdminPinType;
    m_pinTypeBytes[1] = bUserPinType;
    return CKR_OK;
}

int CToken5105::PinTypeByte(int pinType) const {
    if (pinType == kPinTypeAdmin || pinType == kPinTypeUser)
        return m_pinTypeBytes[pinType];
    return -1;
}

CK_RV CToken5105::Lock() {
    return m_deviceMutex.Lock() == 0 ? CKR_OK : CKR_CANT_LOCK;
}

CK_RV CToken5105::Unlock() {
    return m_deviceMutex.Unlock() == 0 ? CKR_OK : CKR_CANT_LOCK;
}

std::vector<unsigned char> CToken5105::HashToId(const unsigned char* pbData, CK_ULONG ulDataLen) {
    if (pbData == nullptr)
        return {};
    std::vector<unsigned char> id(16);
    mbedtls_md5_ret(pbData, ulDataLen, id.data());
    // 0xFF is avoided in identifiers that end up in names on the token.
    std::replace(id.begin(), id.end(), static_cast<unsigned char>(0xFF), static_cast<unsigned char>(0xFE));
    return id;
}

CK_RV CToken5105::InitToken(CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CToken5105::Finalize() {
    return CKR_OK;
}

CK_RV CToken5105::EnsureApplication() {
    if (m_bAppOpened)
        return CKR_OK;
    if (LoadApplicationName() != CKR_OK)
        return CKR_GENERAL_ERROR;
    GetApplicationId();
    return m_bAppOpened ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV CToken5105::LoadApplicationName() {
    if (m_bAppNameLoaded)
        return CKR_OK;
    char names[kApplicationListSize] = {};
    CK_ULONG len = sizeof names;
    if (EnumApplication(names, &len) != kSwSuccess)
        return CKR_GENERAL_ERROR;
    const size_t nameLen = strnlen(names, std::min<size_t>(len, sizeof names));
    if (nameLen == 0)
        return CKR_GENERAL_ERROR;
    m_appName.assign(names, nameLen);
    m_bAppNameLoaded = true;
    return CKR_OK;
}

uint16_t CToken5105::GetApplicationId() {
    if (!m_bAppNameLoaded && LoadApplicationName() != CKR_OK) {
        m_usAppId = 0;
        m_bAppOpened = false;
        return 0;
    }
    uint16_t appId = 0;
    if (OpenApplication(m_appName.c_str(), &appId, nullptr, nullptr, nullptr, nullptr) == kSwSuccess) {
        m_usAppId = appId;
        m_bAppOpened = true;
    } else {
        m_usAppId = 0;
        m_bAppOpened = false;
    }
    return m_usAppId;
}

void CToken5105::UpdatePinFlags(uint8_t bPinType, uint8_t bMaxRetries, uint8_t bTriesLeft) {
    const bool user = bPinType == kPinTypeUser;
    const CK_FLAGS locked = user ? CKF_USER_PIN_LOCKED : CKF_SO_PIN_LOCKED;
    const CK_FLAGS countLow = user ? CKF_USER_PIN_COUNT_LOW : CKF_SO_PIN_COUNT_LOW;
    const CK_FLAGS finalTry = user ? CKF_USER_PIN_FINAL_TRY : CKF_SO_PIN_FINAL_TRY;
    CK_FLAGS& flags = m_tokenInfo.flags;
    if (bTriesLeft == 0) {
        flags = (flags | locked) & ~(countLow | finalTry);
    } else if (bTriesLeft >= bMaxRetries) {
        // A token reporting more tries than its maximum is taken as untouched.
        flags &= ~(locked | countLow | finalTry);
    } else if (bTriesLeft == 1) {
        flags |= finalTry;
    } else {
        flags |= countLow;
    }
}

CK_RV CToken5105::GetPinInfo(AUX_PIN_INFO_PTR pInfo) {
    KEYCORE_ASSERT(pInfo != nullptr, "virtual CK_RV CToken5105::GetPinInfo(AUX_PIN_INFO_PTR)");
    const uint16_t appId = GetApplicationId();
    uint8_t soMax = 0, soLeft = 0, soDefault = 0;
    uint8_t userMax = 0, userLeft = 0, userDefault = 0;
    if (QueryPinInfo(kPinTypeAdmin, appId, &soMax, &soLeft, &soDefault) != kSwSuccess)
        return CKR_GENERAL_ERROR;
    if (QueryPinInfo(kPinTypeUser, appId, &userMax, &userLeft, &userDefault) != kSwSuccess)
        return CKR_GENERAL_ERROR;
    pInfo->bSOPinMaxRetries = soMax;
    pInfo->bSOPinCurCounter = soLeft;
    pInfo->bUserPinMaxRetries = userMax;
    pInfo->bUserPinCurCounter = userLeft;
    UpdatePinFlags(kPinTypeUser, userMax, userLeft);
    UpdatePinFlags(kPinTypeAdmin, soMax, soLeft);
    if (userDefault != 0)
        m_tokenInfo.flags |= CKF_USER_PIN_TO_BE_CHANGED;
    else
        m_tokenInfo.flags &= ~static_cast<CK_FLAGS>(CKF_USER_PIN_TO_BE_CHANGED);
    pInfo->ulTokenFlags = m_tokenInfo.flags;
    return CKR_OK;
}

CK_RV CToken5105::Login(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    if (pPin == nullptr && ulPinLen != 0)
        return CKR_ARGUMENTS_BAD;
    const bool user = userType == CKU_USER;
    const uint8_t pinType = user ? kPinTypeUser : kPinTypeAdmin;
    SecureBytes pin(static_cast<size_t>(ulPinLen) + 1);
    CopyTerminated(pin, pPin, ulPinLen);
    const TokenStatus status = VerifyPin(pinType, m_usAppId, reinterpret_cast<const char*>(pin.data()), ulPinLen);
    CK_FLAGS& flags = m_tokenInfo.flags;
    if (status == kSwSuccess) {
        // A PIN that does not fit the cache is not cached at all: a cut PIN would be a wrong PIN and
        // would cost the administrator a try at the next InitPin.
        if (!user && ulPinLen <= kSoPinCacheSize) {
            SecureWipe(m_soPinCache, sizeof m_soPinCache);
            std::memcpy(m_soPinCache, pin.data(), ulPinLen);
        }
        return CKR_OK;
    }
    if (status >= 0x63C0 && status <= 0x63CF) {
        if (user)
            flags = (flags & ~static_cast<CK_FLAGS>(CKF_USER_PIN_LOCKED)) | CKF_USER_PIN_COUNT_LOW;
        else
            flags &= ~static_cast<CK_FLAGS>(CKF_SO_PIN_LOCKED | CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY);
        return CKR_PIN_INCORRECT;
    }
    switch (status) {
    case 0x6983:
        if (user)
            flags =
                (flags | CKF_USER_PIN_LOCKED) & ~static_cast<CK_FLAGS>(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY);
        else
            flags = (flags | CKF_SO_PIN_LOCKED) & ~static_cast<CK_FLAGS>(CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY);
        return CKR_PIN_LOCKED;
    case 0x6984:
    case 0x698A:
    case 0x6A80:
    case 0x6A86:
        return CKR_DATA_INVALID;
    case 0x6581:
        return CKR_DEVICE_REMOVED;
    default:
        return CKR_GENERAL_ERROR;
    }
}

CK_RV CToken5105::GetSoPinCache(unsigned char pbPin[kSoPinCacheSize]) {
    if (m_soPinCache[0] == 0)
        return CKR_GENERAL_ERROR;
    if (pbPin == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::memcpy(pbPin, m_soPinCache, kSoPinCacheSize);
    return CKR_OK;
}

CK_RV CToken5105::InitPin(CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    SecureBytes soPin(kSoPinCacheSize + 1);
    const CK_RV cached = GetSoPinCache(soPin.data());
    if (cached != CKR_OK)
        return cached;
    if (pPin == nullptr && ulPinLen != 0)
        return CKR_ARGUMENTS_BAD;
    SecureBytes newPin(static_cast<size_t>(ulPinLen) + 1);
    CopyTerminated(newPin, pPin, ulPinLen);
    const size_t soLen = strnlen(reinterpret_cast<const char*>(soPin.data()), kSoPinCacheSize);
    const TokenStatus status = UnblockPin(m_usAppId, reinterpret_cast<const char*>(newPin.data()), ulPinLen,
                                          reinterpret_cast<const char*>(soPin.data()), soLen);
    return status == kSwSuccess ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV CToken5105::SetPin(CK_USER_TYPE userType, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
                         CK_ULONG ulNewLen) {
    if ((pOldPin == nullptr && ulOldLen != 0) || (pNewPin == nullptr && ulNewLen != 0))
        return CKR_ARGUMENTS_BAD;
    SecureBytes oldPin(static_cast<size_t>(ulOldLen) + 1);
    CopyTerminated(oldPin, pOldPin, ulOldLen);
    SecureBytes newPin(static_cast<size_t>(ulNewLen) + 1);
    CopyTerminated(newPin, pNewPin, ulNewLen);
    // The callers' copies are not needed any more and are cleared as early as possible.
    if (ulOldLen != 0)
        SecureWipe(pOldPin, ulOldLen);
    if (ulNewLen != 0)
        SecureWipe(pNewPin, ulNewLen);
    const bool user = userType == CKU_USER;
    const TokenStatus status =
        ChangePin(user ? kPinTypeUser : kPinTypeAdmin, m_usAppId, reinterpret_cast<const char*>(newPin.data()),
                  ulNewLen, reinterpret_cast<const char*>(oldPin.data()), ulOldLen);
    const CK_FLAGS locked = user ? CKF_USER_PIN_LOCKED : CKF_SO_PIN_LOCKED;
    const CK_FLAGS countLow = user ? CKF_USER_PIN_COUNT_LOW : CKF_SO_PIN_COUNT_LOW;
    const CK_FLAGS finalTry = user ? CKF_USER_PIN_FINAL_TRY : CKF_SO_PIN_FINAL_TRY;
    CK_FLAGS& flags = m_tokenInfo.flags;
    if (status == kSwSuccess) {
        flags &= ~(locked | countLow | finalTry);
        return CKR_OK;
    }
    if (status == 0x6983) {
        flags = (flags | locked) & ~(countLow | finalTry);
        return CKR_PIN_LOCKED;
    }
    if (status >= 0x63C0 && status <= 0x63CF) {
        flags = (flags & ~locked) | countLow;
        return CKR_PIN_INCORRECT;
    }
    return CKR_GENERAL_ERROR;
}

CK_RV CToken5105::GenerateRsaKeyPair(uint16_t usContainerId, CK_ULONG ulModulusBits, CK_ULONG* pulExponent,
                                     unsigned char* pbModulus, CK_ULONG* pulModulusLen) {
    if (m_pSlot == nullptr)
        return CKR_GENERAL_ERROR;
    return GenerateRsaPublicKey(
        [&](uint16_t usBits, unsigned char* pbAnswer, CK_ULONG* pulAnswerLen) {
            const TokenStatus status = GenRsaKeyPair(m_usAppId, usContainerId, usBits, pbAnswer, pulAnswerLen);
            if (status == kSwSuccess || status == CKR_BUFFER_TOO_SMALL)
                return status == kSwSuccess ? CKR_OK : status;
            return static_cast<TokenStatus>(CKR_FUNCTION_FAILED);
        },
        ulModulusBits, pulExponent, pbModulus, pulModulusLen);
}

CK_RV CToken5105::GenerateRsaKeyPairEx(uint16_t usContainerId, CK_ULONG ulModulusBits, CK_ULONG* pulExponent,
                                       unsigned char* pbModulus, CK_ULONG* pulModulusLen) {
    if (m_pSlot == nullptr)
        return CKR_GENERAL_ERROR;
    return GenerateRsaPublicKey(
        [&](uint16_t usBits, unsigned char* pbAnswer, CK_ULONG* pulAnswerLen) {
            return GenRsaKeyPairEx(true, m_usAppId, usContainerId, usBits, pbAnswer, pulAnswerLen);
        },
        ulModulusBits, pulExponent, pbModulus, pulModulusLen);
}

std::string CToken5105::NewContainerName() {
    char name[kRandomHexNameMinCapacity] = {};
    if (RandomHexName(name, sizeof name) != CKR_OK)
        return kFallbackContainerName;
    return std::string(name, kContainerNameLength);
}

CK_RV CToken5105::CreateContainerNamed(std::string& name, uint16_t* pusContainerId) {
    if (pusContainerId == nullptr)
        return CKR_GENERAL_ERROR;
    std::string wanted = name.empty() ? NewContainerName() : name;
    uint16_t containerId = 0;
    if (CreateContainer(m_usAppId, wanted.c_str(), &containerId) != kSwSuccess)
        return CKR_GENERAL_ERROR;
    name = wanted;
    *pusContainerId = containerId;
    return CKR_OK;
}

CK_RV CToken5105::Reserved1() {
    return CKR_OK;
}

CK_RV CToken5105::ImportRsaKeyObject(const unsigned char* pbModulus, CK_ULONG ulModulusLen,
                                     const unsigned char* pbPublicExponent, CK_ULONG ulPublicExponentLen,
                                     const unsigned char* pbPrivateExponent, CK_ULONG ulPrivateExponentLen,
                                     const unsigned char* pbPrime1, CK_ULONG ulPrime1Len, const unsigned char* pbPrime2,
                                     CK_ULONG ulPrime2Len, const unsigned char* pbExponent1, CK_ULONG ulExponent1Len,
                                     const unsigned char* pbExponent2, CK_ULONG ulExponent2Len,
                                     const unsigned char* pbCoefficient, CK_ULONG ulCoefficientLen,
                                     std::string& containerName, uint16_t* pusContainerId, uint8_t bUsage) {
    if (pusContainerId == nullptr)
        return CKR_GENERAL_ERROR;
    // Room for the DER and the padding block added before encryption.
    SecureBytes der(kRsaDerCapacity + 16);
    CK_ULONG derLen = kRsaDerCapacity;
    if (!EncodeRsaPrivateKey(0, pbModulus, ulModulusLen, pbPublicExponent, ulPublicExponentLen, pbPrivateExponent,
                             ulPrivateExponentLen, pbPrime1, ulPrime1Len, pbPrime2, ulPrime2Len, pbExponent1,
                             ulExponent1Len, pbExponent2, ulExponent2Len, pbCoefficient, ulCoefficientLen, der.data(),
                             &derLen))
        return CKR_GENERAL_ERROR;

    uint16_t containerId = 0;
    if (containerName.empty()) {
        std::string name;
        if (CreateContainerNamed(name, &containerId) != CKR_OK)
            return CKR_GENERAL_ERROR;
        containerName = name;
        *pusContainerId = containerId;
    }
    if (OpenContainer(m_usAppId, containerName.c_str(), &containerId) != kSwSuccess)
        return CKR_DEVICE_ERROR;
    *pusContainerId = containerId;

    uint8_t transportKey[16];
    token_identity::BuildImportTransportKey(transportKey);
    uint16_t keyIndex = 0;
    const TokenStatus keySet =
        SetSymmKey(m_usAppId, containerId, kSm4EcbAlgId, transportKey, sizeof transportKey, &keyIndex);
    SecureWipe(transportKey, sizeof transportKey);
    if (keySet != kSwSuccess)
        return CKR_DEVICE_ERROR;
    if (CipherInit(true, m_usAppId, containerId, keyIndex, kSm4EcbAlgId, nullptr, 0, 0, 0) != kSwSuccess)
        return CKR_DEVICE_ERROR;

    const size_t pad = 16 - derLen % 16;
    std::memset(der.data() + derLen, static_cast<int>(pad), pad);
    const CK_ULONG paddedLen = derLen + pad;
    SecureBytes blob(paddedLen + 16);
    CK_ULONG blobLen = blob.size();
    if (CipherSingle(true, m_usAppId, containerId, keyIndex, der.data(), paddedLen, blob.data(), &blobLen) !=
        kSwSuccess)
        return CKR_DEVICE_ERROR;
    blobLen = std::min<CK_ULONG>((blobLen + 15) / 16 * 16, blob.size());

    const size_t modulusBits = pbModulus != nullptr ? SignificantBits(pbModulus, ulModulusLen) : 0;
    if (ImportWrappedKeyPair(kRsaKeyType, bUsage, m_usAppId, containerId, kSm4EcbAlgId, keyIndex,
                             static_cast<uint32_t>(modulusBits), blob.data(), blobLen) != kSwSuccess)
        return CKR_DEVICE_ERROR;
    return CKR_OK;
}

CK_RV CToken5105::Unsupported1() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV CToken5105::Unsupported2() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV CToken5105::Unsupported3() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV CToken5105::Unsupported4() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV CToken5105::Unsupported5() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV CToken5105::Unsupported6() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CToken5105::RsaPrivateOperation(uint16_t usContainerId, const unsigned char* pbData, CK_ULONG ulDataLen,
                                      unsigned char* pbOutput, CK_ULONG* pulOutputLen, uint8_t bKeyUsage) {
    if (pbData == nullptr || pbOutput == nullptr || pulOutputLen == nullptr)
        return CKR_ARGUMENTS_BAD;
    const uint8_t usage = (bKeyUsage == 0 || ulDataLen == 128 || ulDataLen == 256) ? 2 : bKeyUsage;
    if (RsaSignData(m_usAppId, usContainerId, usage, pbData, ulDataLen, pbOutput, pulOutputLen) != kSwSuccess)
        *pulOutputLen = 0; // nothing came back
    return CKR_OK;
}

CK_RV CToken5105::ExportRsaPublicKey(const std::string& containerName, unsigned char* pbModulus,
                                     CK_ULONG* pulModulusLen, unsigned char* pbExponent, CK_ULONG* pulExponentLen,
                                     CK_ULONG ulKeySelector) {
    if (pbModulus == nullptr || pulModulusLen == nullptr || pbExponent == nullptr || pulExponentLen == nullptr)
        return CKR_GENERAL_ERROR;
    uint16_t containerId = 0;
    if (OpenContainer(m_usAppId, containerName.c_str(), &containerId) != kSwSuccess)
        return CKR_DEVICE_ERROR;
    unsigned char answer[kPublicKeyAnswerSize];
    CK_ULONG answerLen = sizeof answer;
    if (ExportPublicKey(m_usAppId, containerId, ulKeySelector, answer, &answerLen) != kSwSuccess || answerLen < 4)
        return CKR_GENERAL_ERROR;
    const CK_ULONG modulusLen = ReadBe32(answer) / 8;
    if (answerLen < 4 + modulusLen + kRsaExponentSize || *pulModulusLen < modulusLen)
        return CKR_GENERAL_ERROR;
    std::memcpy(pbModulus, answer + 4, modulusLen);
    *pulModulusLen = modulusLen;
    std::memcpy(pbExponent, answer + 4 + modulusLen, kRsaExponentSize);
    *pulExponentLen = kRsaExponentSize;
    return CKR_OK;
}

CK_RV CToken5105::GetMechanismList(CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    if (pulCount == nullptr)
        return CKR_ARGUMENTS_BAD;
    const CK_ULONG rows = m_mechanisms.size();
    if (pMechanismList == nullptr) {
        *pulCount = rows;
        return CKR_OK;
    }
    if (*pulCount < rows) {
        *pulCount = rows;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (const auto& row : m_mechanisms)
        *pMechanismList++ = row.first;
    *pulCount = rows;
    return CKR_OK;
}

CK_RV CToken5105::GetMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    if (pInfo == nullptr)
        return CKR_ARGUMENTS_BAD;
    const auto found = m_mechanisms.find(type);
    if (found == m_mechanisms.end())
        return CKR_MECHANISM_INVALID;
    *pInfo = found->second;
    return CKR_OK;
}

CK_ULONG CToken5105::GetMaxApduData() {
    return m_bLargePayload ? 2045 : 232;
}

CK_RV CToken5105::ResetSecurityState() {
    const TokenStatus access = SendAccessCode();
    if (access != kSwSuccess)
        return access;
    static const std::vector<uint8_t> kResetCommand = {0x80, 0x01, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x05};
    return SendCommand(kResetCommand) == kSwSuccess ? CKR_OK : CKR_DEVICE_ERROR;
}

CK_RV CToken5105::Unsupported7() {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV CToken5105::Reserved2() {
    return CKR_OK;
}
CK_RV CToken5105::Reserved3() {
    return CKR_OK;
}
CK_RV CToken5105::Reserved4() {
    return CKR_OK;
}
CK_RV CToken5105::Reserved5() {
    return CKR_OK;
}
void CToken5105::Reserved6() {}
void CToken5105::Reserved7() {}

CK_RV CToken5105::GetTokenInfo(CK_TOKEN_INFO_PTR pInfo) {
    if (pInfo == nullptr)
        return CKR_GENERAL_ERROR;
    unsigned char info[kDevInfoBufferSize] = {};
    CK_ULONG infoLen = sizeof info;
    if (GetDevInfo(info, &infoLen) != kSwSuccess || infoLen < kDevInfoMinimum)
        return CKR_GENERAL_ERROR;
    std::memcpy(m_tokenInfo.label, info + kDevInfoLabel, sizeof m_tokenInfo.label);
    CopyPadded(m_tokenInfo.manufacturerID, sizeof m_tokenInfo.manufacturerID, kManufacturerId);
    CopyPadded(m_tokenInfo.model, sizeof m_tokenInfo.model, kModel);
    std::memcpy(m_tokenInfo.serialNumber, info + kDevInfoSerial, sizeof m_tokenInfo.serialNumber);
    m_tokenInfo.ulMaxSessionCount = 0;
    m_tokenInfo.ulMaxRwSessionCount = 0;
    m_tokenInfo.ulMaxPinLen = 255;
    m_tokenInfo.ulMinPinLen = 6;
    m_tokenInfo.ulTotalPublicMemory = ReadBe32(info + kDevInfoTotalSpace);
    m_tokenInfo.ulTotalPrivateMemory = m_tokenInfo.ulTotalPublicMemory;
    m_tokenInfo.ulFreePublicMemory = ReadBe32(info + kDevInfoFreeSpace);
    m_tokenInfo.ulFreePrivateMemory = m_tokenInfo.ulFreePublicMemory;
    m_tokenInfo.hardwareVersion.major = info[kDevInfoVersions];
    m_tokenInfo.hardwareVersion.minor = info[kDevInfoVersions + 1];
    m_tokenInfo.firmwareVersion.major = info[kDevInfoVersions + 2];
    m_tokenInfo.firmwareVersion.minor = info[kDevInfoVersions + 3];
    AUX_PIN_INFO pinInfo;
    GetPinInfo(&pinInfo);
    *pInfo = m_tokenInfo;
    return CKR_OK;
}

CK_FLAGS CToken5105::GetTokenFlags() {
    return m_tokenInfo.flags;
}

void CToken5105::SetTokenFlags(CK_FLAGS flags) {
    m_tokenInfo.flags = flags;
}

int CToken5105::EncodeDerInteger(const unsigned char* pbValue, CK_ULONG ulValueLen, unsigned char* pbOutput,
                                 CK_ULONG* pulOutputLen) {
    if (pbOutput == nullptr || pulOutputLen == nullptr)
        return 0;
    size_t len = 0;
    if (!DerEncodeInteger(pbValue, ulValueLen, pbOutput, &len))
        return 0;
    *pulOutputLen = len;
    return 1;
}

bool CToken5105::EncodeRsaPrivateKey(uint8_t bVersion, const unsigned char* pbModulus, CK_ULONG ulModulusLen,
                                     const unsigned char* pbPublicExponent, CK_ULONG ulPublicExponentLen,
                                     const unsigned char* pbPrivateExponent, CK_ULONG ulPrivateExponentLen,
                                     const unsigned char* pbPrime1, CK_ULONG ulPrime1Len, const unsigned char* pbPrime2,
                                     CK_ULONG ulPrime2Len, const unsigned char* pbExponent1, CK_ULONG ulExponent1Len,
                                     const unsigned char* pbExponent2, CK_ULONG ulExponent2Len,
                                     const unsigned char* pbCoefficient, CK_ULONG ulCoefficientLen,
                                     unsigned char* pbOutput, CK_ULONG* pulOutputLen) {
    if (pulOutputLen == nullptr)
        return false;
    const RsaKeyComponents key = {pbModulus,         ulModulusLen,         pbPublicExponent, ulPublicExponentLen,
                                  pbPrivateExponent, ulPrivateExponentLen, pbPrime1,         ulPrime1Len,
                                  pbPrime2,          ulPrime2Len,          pbExponent1,      ulExponent1Len,
                                  pbExponent2,       ulExponent2Len,       pbCoefficient,    ulCoefficientLen};
    size_t len = *pulOutputLen;
    if (!DerEncodeRsaPrivateKey(bVersion, key, pbOutput, &len))
        return false;
    *pulOutputLen = len;
    return true;
}

CK_RV CToken5105::SelectEndpoints(struct usb_device* pDevice) {
    UsbEndpoints endpoints;
    const bool found = ReadUsbEndpoints(pDevice, &endpoints);
    m_ulInEndpoint = endpoints.in;
    m_ulOutEndpoint = endpoints.out;
    m_ulInterfaceSubClass = endpoints.interfaceSubClass;
    return found ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV CToken5105::CopyTransportName(const char* name, size_t length, char* pName, CK_ULONG ulCapacity) {
    if (!pName)
        return CKR_ARGUMENTS_BAD;
    if (ulCapacity < length)
        return CKR_BUFFER_TOO_SMALL;
    std::memcpy(pName, name, length);
    return CKR_OK;
}

} // namespace keycore
