#pragma once
// The token over a mass-storage style Bulk-Only exchange: a 31-byte command wrapper with a vendor
// command block, the command bytes, a 13-byte status wrapper, then an IN wrapper and the data stage.

#include "device/token5105.h"

#include <cstddef>
#include <cstdint>

namespace keycore {

class CToken5105Auto : public CToken5105 {
public:
    static constexpr CK_ULONG kMaxCommandLength = 4096;
    static constexpr size_t kDataInCapacity = 4160;
    static constexpr int kWrapperWriteTimeoutMs = 2000000;
    // The interface subclass of a device that speaks this framing.
    static constexpr uint64_t kBulkOnlySubClass = 6;

    // Bounds of the loops that repeat until the device answers; each ends in CKR_DEVICE_ERROR.
    static constexpr int kMaxBusyWrapperRetries = 10;
    static constexpr int kMaxCommandSends = 4;
    static constexpr int kMaxShortStatusReads = 8;
    static constexpr int kMaxClearHalts = 8;
    static constexpr int kMaxStallRecoveries = 8;
    static constexpr int kMaxEmptyDataReads = 8;
    static constexpr int kSpareDataReads = 2;

    CToken5105Auto(CSlot* pSlot, const std::string& devicePath, bool bSlotFlag);
    ~CToken5105Auto() override;

    int GetDeviceType() override;
    CK_RV GetTransportName(char* pName, CK_ULONG ulCapacity) override;
    CK_RV OpenDevice() override;
    // Releases the USB handle: the token is not open afterwards.
    CK_RV CloseDevice() override;
    // The whole answer (data and status bytes) when it fits *pulResponseLen; a longer one is
    // CKR_BUFFER_TOO_SMALL with nothing copied.
    CK_RV TransmitFrame(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                        CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs) override;
    // The exchange itself; the caller holds the device lock.
    CK_RV TransmitBulkOnly(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                           CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs);

private:
    CK_RV SendCommand(const unsigned char* pbCommand, CK_ULONG ulCommandLen, int* pBusyRetries);
    // Reads a 13-byte status wrapper, skipping short reads and clearing a stalled IN endpoint (both
    // bounded). The last read result: 13, another count, or a negative errno.
    int ReadStatusWrapper(uint8_t status[13], int timeoutMs);
    // Clears the halt of the IN endpoint until it stops reporting a stall (bounded).
    void ClearInHalt();
    // After a stall in the middle of the data stage: 0 once a good status wrapper comes,
    // CKR_GENERAL_ERROR when the device has gone, CKR_DEVICE_ERROR when neither happens.
    CK_RV RecoverStatusAfterStall(int timeoutMs);
    int ReadIn(uint8_t* pbBuffer, size_t ulLength, int timeoutMs);
    int WriteOut(const uint8_t* pbBuffer, size_t ulLength, int timeoutMs);
};

} // namespace keycore
