#include "skf/skf_device.h"

#include "pkcs11/p11_env.h"
#include "pkcs11/slot.h"
#include "pkcs11/slot_mgr.h"
#include "runtime/hex_encode.h"
#include "skf/skf_frame.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace keycore {

namespace {

// The device-information answer is read into this much room; the token sends less.
constexpr size_t kDevInfoCapacity = 1024;
// Fixed capacities reported to callers, whatever the token says.
constexpr ULONG kMaxEccBufferSize = 955;
constexpr ULONG kMaxBufferSize = 1024;
// Firmware whose serial number arrives as 16 raw bytes rather than text.
constexpr uint8_t kBinarySerialFirmware = 0x10;
constexpr size_t kBinarySerialBytes = 16;
// Labels are stored in a 32-byte field that must keep room for the terminating NUL.
constexpr size_t kLabelFieldSize = 32;

// Offsets in the device-information answer.
constexpr size_t kAtVersion = 0;
constexpr size_t kAtManufacturer = 4;
constexpr size_t kAtIssuer = 68;
constexpr size_t kAtLabel = 132;
constexpr size_t kAtSerial = 164;
constexpr size_t kAtHwVersion = 196;
constexpr size_t kAtFirmwareVersion = 198;
constexpr size_t kAtCapabilities = 200;

CSlotManager& Slots() {
    return KVCSP11Env::Instance()->SlotManager();
}

// The names of every slot whose token is present, in slot order.
std::vector<std::string> PresentDeviceNames() {
    CSlotManager& manager = Slots();
    std::vector<std::string> names;
    const size_t count = manager.GetSlotCount();
    for (CK_SLOT_ID id = 1; id <= count; ++id) {
        const CSlot* slot = manager.GetSlot(id);
        if (slot != nullptr && slot->IsTokenPresent())
            names.push_back(slot->GetSlotName());
    }
    return names;
}

ULONG BigEndian32(const unsigned char* p) {
    return (ULONG(p[0]) << 24) | (ULONG(p[1]) << 16) | (ULONG(p[2]) << 8) | ULONG(p[3]);
}

void FillDevInfo(const unsigned char* answer, DEVINFO* pDevInfo) {
    static_assert(kAtCapabilities + 6 * 4 <= kDevInfoCapacity, "every field lies inside the answer room");
    std::memset(pDevInfo, 0, sizeof *pDevInfo);
    pDevInfo->Version.major = answer[kAtVersion];
    pDevInfo->Version.minor = answer[kAtVersion + 1];
    std::memcpy(pDevInfo->Manufacturer, answer + kAtManufacturer, sizeof pDevInfo->Manufacturer);
    std::memcpy(pDevInfo->Issuer, answer + kAtIssuer, sizeof pDevInfo->Issuer);
    std::memcpy(pDevInfo->Label, answer + kAtLabel, sizeof pDevInfo->Label);
    if (answer[kAtFirmwareVersion] == kBinarySerialFirmware) {
        size_t capacity = sizeof pDevInfo->SerialNumber;
        HexEncodeBounded(answer + kAtSerial, kBinarySerialBytes, pDevInfo->SerialNumber, &capacity);
    } else {
        std::memcpy(pDevInfo->SerialNumber, answer + kAtSerial, sizeof pDevInfo->SerialNumber);
    }
    pDevInfo->HWVersion.major = answer[kAtHwVersion];
    pDevInfo->HWVersion.minor = answer[kAtHwVersion + 1];
    pDevInfo->FirmwareVersion.major = answer[kAtFirmwareVersion];
    pDevInfo->FirmwareVersion.minor = answer[kAtFirmwareVersion + 1];
    ULONG* const capabilities[] = {&pDevInfo->AlgSymCap,    &pDevInfo->AlgAsymCap, &pDevInfo->AlgHashCap,
                                   &pDevInfo->DevAuthAlgId, &pDevInfo->TotalSpace, &pDevInfo->FreeSpace};
    size_t at = kAtCapabilities;
    for (ULONG* field : capabilities) {
        // The structure is packed: write through a copy, never through a misaligned pointer.
        const ULONG value = BigEndian32(answer + at);
        std::memcpy(field, &value, sizeof value);
        at += 4;
    }
    const ULONG eccSize = kMaxEccBufferSize;
    const ULONG bufferSize = kMaxBufferSize;
    std::memcpy(&pDevInfo->MaxECCBufferSize, &eccSize, sizeof eccSize);
    std::memcpy(&pDevInfo->MaxBufferSize, &bufferSize, sizeof bufferSize);
}

} // namespace

void DevInfoFromAnswer(const unsigned char* pbAnswer, size_t ulAnswerLen, DEVINFO* pDevInfo) {
    std::vector<unsigned char> answer(kDevInfoCapacity, 0);
    if (pbAnswer != nullptr)
        std::memcpy(answer.data(), pbAnswer, std::min(ulAnswerLen, answer.size()));
    FillDevInfo(answer.data(), pDevInfo);
}

ULONG SkfEnumDev(BOOL /*bPresent*/, LPSTR szNameList, ULONG* pulSize) {
    return RunSkfEntry([&]() -> ULONG {
        if (pulSize == nullptr)
            return SAR_INVALIDPARAMERR;
        const std::vector<std::string> names = PresentDeviceNames();
        size_t needed = 1;
        for (const std::string& name : names)
            needed += name.size() + 1;
        const ULONG capacity = *pulSize;
        *pulSize = static_cast<ULONG>(needed);
        if (szNameList == nullptr)
            return SAR_OK;
        if (capacity < needed)
            return SAR_BUFFER_TOO_SMALL;
        char* out = szNameList;
        for (const std::string& name : names) {
            std::memcpy(out, name.c_str(), name.size() + 1);
            out += name.size() + 1;
        }
        *out = '\0';
        return SAR_OK;
    });
}

ULONG SkfConnectDev(LPSTR szName, DEVHANDLE* phDev) {
    return RunSkfEntry([&]() -> ULONG {
        if (szName == nullptr)
            return SAR_NAMELENERR;
        if (phDev == nullptr)
            return SAR_INVALIDPARAMERR;
        if (szName[0] == '\0')
            return SAR_INDATALENERR;
        *phDev = nullptr;
        const std::string name(szName);
        CSlot* slot = FindSlotByDevName(name);
        if (slot == nullptr)
            return SAR_DEVICE_REMOVED;
        const std::string devicePath = slot->GetDevicePath();
        auto handle = std::make_shared<GMHandle>();
        handle->m_devName = name;
        handle->m_devPath = devicePath;
        *phDev = GMHandles::Table().Add(std::move(handle));
        return SAR_OK;
    });
}

ULONG SkfDisConnectDev(DEVHANDLE hDev) {
    return RunSkfEntry([&]() -> ULONG { return GMHandles::Table().Remove(hDev) ? SAR_OK : SAR_INVALIDHANDLEERR; });
}

ULONG SkfGetDevState(LPSTR szDevName, ULONG* pulDevState) {
    return RunSkfEntry([&]() -> ULONG {
        // A missing name is refused rather than read.
        if (pulDevState == nullptr || szDevName == nullptr)
            return SAR_INVALIDPARAMERR;
        *pulDevState = FindSlotByDevName(szDevName) != nullptr ? 1 : 0;
        return SAR_OK;
    });
}

ULONG SkfSetLabel(DEVHANDLE hDev, LPSTR szLabel) {
    return RunSkfEntry([&]() -> ULONG {
        if (!GMHandles::Table().Contains(hDev))
            return SAR_INVALIDHANDLEERR;
        if (szLabel == nullptr)
            return SAR_INVALIDPARAMERR;
        // Never reads past the field's size, whatever the caller passed.
        const size_t length = strnlen(szLabel, kLabelFieldSize);
        if (length >= kLabelFieldSize)
            return SAR_INDATAERR;
        return WithHandleSlot(hDev, SAR_DEVICE_REMOVED, [&](SkfSlotUse& use) -> ULONG {
            return use.token.SetLabel(szLabel, length) == CKR_OK ? SAR_OK : SAR_FAIL;
        });
    });
}

ULONG SkfGetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
    return RunSkfEntry([&]() -> ULONG {
        if (!GMHandles::Table().Contains(hDev))
            return SAR_INVALIDHANDLEERR;
        if (pDevInfo == nullptr)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hDev, SAR_DEVICE_REMOVED, [&](SkfSlotUse& use) -> ULONG {
            // Zeroed room: a short answer leaves the fields it does not reach empty.
            std::vector<unsigned char> answer(kDevInfoCapacity, 0);
            CK_ULONG answerLen = answer.size();
            if (use.token.GetDevInfo(answer.data(), &answerLen) != kSwSuccess)
                return SAR_FAIL;
            DevInfoFromAnswer(answer.data(), std::min<size_t>(answerLen, answer.size()), pDevInfo);
            return SAR_OK;
        });
    });
}

ULONG SkfLockDev(DEVHANDLE /*hDev*/, ULONG /*ulTimeOut*/) {
    // Every call already holds the device for its whole exchange; there is nothing to lock beyond it.
    return SAR_OK;
}

ULONG SkfUnlockDev(DEVHANDLE /*hDev*/) {
    return SAR_OK;
}

ULONG SkfTransmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen) {
    return RunSkfEntry([&]() -> ULONG {
        if (pbCommand == nullptr || ulCommandLen == 0 || pbData == nullptr || pulDataLen == nullptr || *pulDataLen <= 2)
            return SAR_INVALIDPARAMERR;
        return WithHandleSlot(hDev, SAR_INVALIDHANDLEERR, [&](SkfSlotUse& use) -> ULONG {
            CK_ULONG answerLen = *pulDataLen;
            const TokenStatus status = use.token.TransmitRawApdu(pbCommand, ulCommandLen, pbData, &answerLen);
            // None of these is a status word a token can send (SW1 is 6x or 9x): they are the
            // library's own, and the caller must not read an answer that was never written.
            if (status == kSwTransportFailure)
                return SAR_FAIL;
            if (status == CKR_BUFFER_TOO_SMALL) {
                *pulDataLen = static_cast<ULONG>(answerLen);
                return SAR_BUFFER_TOO_SMALL;
            }
            if (status == CKR_ARGUMENTS_BAD)
                return SAR_INVALIDPARAMERR;
            *pulDataLen = static_cast<ULONG>(answerLen);
            return SAR_OK;
        });
    });
}

ULONG SkfWaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent) {
    return RunSkfEntry([&]() -> ULONG {
        if (szDevName == nullptr || pulDevNameLen == nullptr || pulEvent == nullptr)
            return SAR_INVALIDPARAMERR;
        CSlotManager& manager = Slots();
        CK_SLOT_ID slotId = 0;
        CK_ULONG event = 0;
        const CK_RV rv = manager.WaitForDevEvent(0, &slotId, &event, nullptr);
        if (rv != CKR_OK)
            return static_cast<ULONG>(rv);
        const CSlot* slot = manager.GetSlot(slotId);
        if (slot == nullptr)
            return SAR_FAIL;
        *pulEvent = static_cast<ULONG>(event);
        const std::string name = slot->GetSlotName();
        const ULONG needed = static_cast<ULONG>(name.size() + 1);
        const ULONG capacity = *pulDevNameLen;
        *pulDevNameLen = needed;
        if (capacity < needed)
            return SAR_INDATALENERR;
        std::memcpy(szDevName, name.c_str(), needed);
        return SAR_OK;
    });
}

ULONG SkfCancelWaitForDevEvent() {
    return RunSkfEntry([&]() -> ULONG {
        Slots().ReleaseWaiters();
        return SAR_OK;
    });
}

} // namespace keycore
