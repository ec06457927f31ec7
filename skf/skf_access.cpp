#include "skf/skf_access.h"

#include "runtime/secure_wipe.h"
#include "skf/skf_frame.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace keycore {

namespace {

constexpr TokenStatus kSwApplicationNotSelected = 0x698A;
constexpr TokenStatus kSwPinBlocked = 0x6983;
constexpr TokenStatus kSwDeviceRemoved = 0x6581;
constexpr TokenStatus kSwPinMalformed = 0x6984;
constexpr TokenStatus kSwWrongData = 0x6A80;

// One GenRandom operation fills at most this much of the caller's buffer.
constexpr ULONG kRandomPiece = 2000;
constexpr size_t kDevAuthValueSize = 16;
constexpr size_t kDevAuthChallengeSize = 8;
constexpr size_t kDevKeySize = 16;
constexpr size_t kDevKeyLongSize = 32;
// The part of the token's answer to the encrypted key that goes back with the change command.
constexpr size_t kDevKeyChangeSize = 20;

uint8_t PinTypeOf(ULONG ulPINType) {
    return ulPINType == 1 ? kPinTypeUser : kPinTypeAdmin;
}

// Which status words say "wrong PIN": verification and change answer 0x63Cx, the unblock command any
// 0x63xx. The tries left are the low four bits either way (0x63C3: three left).
enum class WrongPinWords { CounterOnly, Any63 };

bool IsWrongPin(TokenStatus status, WrongPinWords words) {
    return words == WrongPinWords::Any63 ? (status & 0xFF00) == 0x6300 : (status & 0xFFF0) == 0x63C0;
}

ULONG TriesLeft(TokenStatus status) {
    return static_cast<ULONG>(status & 0x0F);
}

// The answer of a PIN command, shared by verify, change and unblock: a result, or nothing for a status
// word outside the table (each caller decides what that means).
std::optional<ULONG> PinResult(TokenStatus status, ULONG* pulRetryCount,
                               WrongPinWords words = WrongPinWords::CounterOnly) {
    if (status == kSwSuccess)
        return SAR_OK;
    if (IsWrongPin(status, words)) {
        *pulRetryCount = TriesLeft(status);
        return SAR_PIN_INCORRECT;
    }
    switch (status) {
    case kSwPinBlocked:
        *pulRetryCount = 0;
        return SAR_PIN_LOCKED;
    case kSwPinMalformed:
    case kSwWrongData:
        return SAR_INDATAERR;
    case kSwDeviceRemoved:
        return SAR_DEVICE_REMOVED;
    default:
        return std::nullopt;
    }
}

// Up to two attempts of an operation on the handle's application. 0x698A selects the application
// again by name and starts the next attempt; translate(status) gives the result of any other status
// word, or nothing to start the next attempt without a re-selection. Running out of attempts is SAR_FAIL.
template <typename Attempt, typename Translate>
ULONG OnApplication(SkfSlotUse& use, Attempt attempt, Translate translate) {
    for (int round = 0; round < 2; ++round) {
        const TokenStatus status = attempt(static_cast<uint16_t>(use.handle.m_appId));
        if (status == kSwApplicationNotSelected) {
            uint16_t appId = 0;
            if (use.token.OpenApplication(use.handle.m_appName.c_str(), &appId) != kSwSuccess)
                return SAR_APPLICATION_NOT_EXISTS;
            continue;
        }
        const std::optional<ULONG> result = translate(status);
        if (result)
            return *result;
    }
    return SAR_FAIL;
}

ULONG FailOtherwise(std::optional<ULONG> result) {
    return result ? *result : SAR_FAIL;
}

// The verification core; the caller holds the slot lock.
ULONG VerifyOnToken(SkfSlotUse& use, uint8_t bPinType, const char* pszPin, ULONG* pulRetryCount) {
    const CK_ULONG pinLen = std::strlen(pszPin);
    return OnApplication(
        use, [&](uint16_t appId) { return use.token.VerifyPin(bPinType, appId, pszPin, pinLen); },
        [&](TokenStatus status) -> std::optional<ULONG> { return FailOtherwise(PinResult(status, pulRetryCount)); });
}

} // namespace

ULONG SkfGenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen) {
    return RunSkfEntry([&]() -> ULONG {
        if (hDev == nullptr || pbRandom == nullptr || ulRandomLen == 0)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
            for (ULONG offset = 0; offset < ulRandomLen; offset += kRandomPiece) {
                const ULONG piece = std::min(kRandomPiece, ulRandomLen - offset);
                if (use.token.GenRandom(pbRandom + offset, piece) != kSwSuccess)
                    return SAR_FAIL;
            }
            return SAR_OK;
        });
    });
}

ULONG SkfDevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen) {
    return RunSkfEntry([&]() -> ULONG {
        // The token takes exactly 16 bytes; a shorter buffer would be read past its end.
        if (pbAuthData == nullptr || ulLen < kDevAuthValueSize)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
            const TokenStatus status = use.token.DevAuth(pbAuthData, kDevAuthValueSize);
            if (status == kSwSuccess)
                return SAR_OK;
            return status == kSwPinBlocked ? SAR_PIN_LOCKED : SAR_FAIL;
        });
    });
}

ULONG SkfChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen) {
    return RunSkfEntry([&]() -> ULONG {
        if (pbKeyValue == nullptr || (ulKeyLen != kDevKeySize && ulKeyLen != kDevKeyLongSize))
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
            // The token wants a fresh challenge before it accepts the change; its value is not used.
            unsigned char challenge[kDevAuthChallengeSize];
            if (use.token.GenRandom(challenge, sizeof challenge) != kSwSuccess)
                return SAR_FAIL;
            if (use.token.PrepareDevAuthKeyChange() != CKR_OK)
                return SAR_FAIL;
            std::vector<unsigned char> answer;
            TokenStatus status = use.token.ChangeDevAuthKeySm2(pbKeyValue, &answer);
            if (status == kSwSuccess && answer.size() >= kDevKeyChangeSize)
                status = use.token.ChangeDevAuthKey(answer.data(), kDevKeyChangeSize);
            else
                status = kSwTransportFailure;
            SecureWipe(answer);
            if (status == kSwSuccess)
                return SAR_OK;
            return status == kSwPinBlocked ? SAR_PIN_LOCKED : SAR_FAIL;
        });
    });
}

ULONG SkfVerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount) {
    return RunSkfEntry([&]() -> ULONG {
        if (hApplication == nullptr || szPIN == nullptr || pulRetryCount == nullptr)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) {
            return VerifyOnToken(use, PinTypeOf(ulPINType), szPIN, pulRetryCount);
        });
    });
}

ULONG SkfChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG* pulRetryCount) {
    return RunSkfEntry([&]() -> ULONG {
        if (hApplication == nullptr || szOldPin == nullptr || szNewPin == nullptr || pulRetryCount == nullptr)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) {
            const uint8_t pinType = PinTypeOf(ulPINType);
            const CK_ULONG oldLen = std::strlen(szOldPin);
            const CK_ULONG newLen = std::strlen(szNewPin);
            // An unknown status word is worth a second attempt here: the change may meet a token that
            // has just switched application under another process.
            return OnApplication(
                use,
                [&](uint16_t appId) { return use.token.ChangePin(pinType, appId, szNewPin, newLen, szOldPin, oldLen); },
                [&](TokenStatus status) { return PinResult(status, pulRetryCount); });
        });
    });
}

ULONG SkfGetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                    BOOL* pbDefaultPin) {
    return RunSkfEntry([&]() -> ULONG {
        if (hApplication == nullptr || pulMaxRetryCount == nullptr || pulRemainRetryCount == nullptr)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) {
            const uint8_t pinType = PinTypeOf(ulPINType);
            uint8_t maxRetries = 0;
            uint8_t triesLeft = 0;
            uint8_t defaultPin = 0;
            return OnApplication(
                use,
                [&](uint16_t appId) {
                    return use.token.QueryPinInfo(pinType, appId, &maxRetries, &triesLeft, &defaultPin);
                },
                [&](TokenStatus status) -> std::optional<ULONG> {
                    if (status != kSwSuccess)
                        return SAR_FAIL;
                    *pulMaxRetryCount = maxRetries;
                    *pulRemainRetryCount = triesLeft;
                    if (pbDefaultPin != nullptr)
                        *pbDefaultPin = defaultPin != 0 ? 1 : 0;
                    return SAR_OK;
                });
        });
    });
}

ULONG SkfUnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount) {
    return RunSkfEntry([&]() -> ULONG {
        // The administrator verification writes the count, so it is required as in SKF_VerifyPIN.
        if (hApplication == nullptr || szAdminPIN == nullptr || szNewUserPIN == nullptr || pulRetryCount == nullptr)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
            // Verification and unblock run under one hold of the slot, so no other process's command
            // can come between them.
            const ULONG verified = VerifyOnToken(use, kPinTypeAdmin, szAdminPIN, pulRetryCount);
            if (verified != SAR_OK)
                return verified;
            const CK_ULONG adminLen = std::strlen(szAdminPIN);
            const CK_ULONG newLen = std::strlen(szNewUserPIN);
            return OnApplication(
                use,
                [&](uint16_t appId) { return use.token.UnblockPin(appId, szNewUserPIN, newLen, szAdminPIN, adminLen); },
                [&](TokenStatus status) -> std::optional<ULONG> {
                    return FailOtherwise(PinResult(status, pulRetryCount, WrongPinWords::Any63));
                });
        });
    });
}

ULONG SkfClearSecureState(HAPPLICATION hApplication) {
    return RunSkfEntry([&]() -> ULONG {
        if (hApplication == nullptr)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hApplication, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) {
            return OnApplication(
                use, [&](uint16_t appId) { return use.token.ClearSecureState(appId); },
                [](TokenStatus status) -> std::optional<ULONG> { return status == kSwSuccess ? SAR_OK : SAR_FAIL; });
        });
    });
}

} // namespace keycore
