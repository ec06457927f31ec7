#include "device/token5105_auto.h"

#include "device/token_identity.h"
#include "device/token_lock_holder.h"
#include "device/usb_token_open.h"

#include <usb.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace keycore {

namespace {

constexpr char kTransportName[] = {'O', 'r', 'v', 'e', 'x', '5', '1', '0', '5', 'S', 'C', 'S', 'I'};
constexpr size_t kWrapperSize = 31;
constexpr size_t kStatusSize = 13;
constexpr uint32_t kTag = 0x11223344;
constexpr uint8_t kGoodStatus[kStatusSize] = {0x55, 0x53, 0x42, 0x53, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0, 0};
constexpr uint8_t kStatusSignature[4] = {0x55, 0x53, 0x42, 0x53};
constexpr size_t kStatusByte = 12;
constexpr useconds_t kBusyRetryPauseMicros = 100000;

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void BuildWrapper(uint8_t wrapper[kWrapperSize], uint32_t transferLength, uint8_t flags) {
    std::memset(wrapper, 0, kWrapperSize);
    PutLe32(wrapper, 0x43425355);
    PutLe32(wrapper + 4, kTag);
    PutLe32(wrapper + 8, transferLength);
    wrapper[12] = flags;
    wrapper[13] = 0;  // LUN
    wrapper[14] = 10; // command block length
    static constexpr uint8_t kCommandBlock[10] = {0xFF, 'O', 'R', 'V', 'E', 'X', 0, 0, 0, 0x55};
    std::memcpy(wrapper + 15, kCommandBlock, sizeof kCommandBlock);
}

bool IsGoodStatus(const uint8_t* status) {
    return std::memcmp(status, kStatusSignature, sizeof kStatusSignature) == 0 && status[kStatusByte] == 0;
}

int ClampTimeout(CK_ULONG ulTimeoutMs) {
    return static_cast<int>(std::min<CK_ULONG>(ulTimeoutMs, INT_MAX));
}

} // namespace

CToken5105Auto::CToken5105Auto(CSlot* pSlot, const std::string& devicePath, bool bSlotFlag)
    : CToken5105(pSlot, devicePath, bSlotFlag) {}

CToken5105Auto::~CToken5105Auto() {
    CToken5105Auto::CloseDevice();
}

int CToken5105Auto::GetDeviceType() {
    return token_identity::kDeviceTypeBulkOnly;
}

CK_RV CToken5105Auto::GetTransportName(char* pName, CK_ULONG ulCapacity) {
    return CopyTransportName(kTransportName, sizeof kTransportName, pName, ulCapacity);
}

CK_RV CToken5105Auto::OpenDevice() {
    if (IsOpen())
        return CKR_OK;
    UsbOpenResult opened;
    const CK_RV rv = OpenUsbToken(*this, &opened);
    if (rv != CKR_OK)
        return rv;
    m_deviceMutex.OpenOrCreate(m_devicePath);
    m_bLargePayload = true;
    m_ulProductId = opened.idProduct;
    m_hUsb = opened.handle;
    usb_claim_interface(m_hUsb, 0);
    return CKR_OK;
}

CK_RV CToken5105Auto::CloseDevice() {
    if (IsOpen()) {
        usb_close(m_hUsb);
        m_hUsb = NoUsbHandle();
    }
    return CKR_OK;
}

CK_RV CToken5105Auto::TransmitFrame(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                                    CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs) {
    if (!IsOpen())
        return CKR_GENERAL_ERROR;
    CTokenLockHolder lock(*this);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    const CK_RV rv = m_ulInterfaceSubClass == kBulkOnlySubClass
                         ? TransmitBulkOnly(pbCommand, ulCommandLen, pbResponse, pulResponseLen, ulTimeoutMs)
                         : CKR_GENERAL_ERROR;
    const CK_RV unlocked = lock.Release();
    return rv == CKR_OK && unlocked != CKR_OK ? CKR_CANT_LOCK : rv;
}

int CToken5105Auto::ReadIn(uint8_t* pbBuffer, size_t ulLength, int timeoutMs) {
    return usb_bulk_read(m_hUsb, static_cast<int>(m_ulInEndpoint), reinterpret_cast<char*>(pbBuffer),
                         static_cast<int>(ulLength), timeoutMs);
}

int CToken5105Auto::WriteOut(const uint8_t* pbBuffer, size_t ulLength, int timeoutMs) {
    return usb_bulk_write(m_hUsb, static_cast<int>(m_ulOutEndpoint),
                          const_cast<char*>(reinterpret_cast<const char*>(pbBuffer)), static_cast<int>(ulLength),
                          timeoutMs);
}

void CToken5105Auto::ClearInHalt() {
    for (int i = 0; i < kMaxClearHalts; ++i)
        if (usb_clear_halt(m_hUsb, static_cast<unsigned int>(m_ulInEndpoint)) != -EPIPE)
            return;
}

int CToken5105Auto::ReadStatusWrapper(uint8_t status[kStatusSize], int timeoutMs) {
    int shortReads = 0;
    int stalls = 0;
    for (;;) {
        const int got = ReadIn(status, kStatusSize, timeoutMs);
        if (got == -EPIPE && stalls < kMaxStallRecoveries) {
            ++stalls;
            ClearInHalt();
            continue;
        }
        if (got > 0 && got != static_cast<int>(kStatusSize) && ++shortReads < kMaxShortStatusReads)
            continue;
        return got;
    }
}

CK_RV CToken5105Auto::SendCommand(const unsigned char* pbCommand, CK_ULONG ulCommandLen, int* pBusyRetries) {
    uint8_t wrapper[kWrapperSize];
    BuildWrapper(wrapper, static_cast<uint32_t>(ulCommandLen), 0x00);
    int rc = WriteOut(wrapper, kWrapperSize, kWrapperWriteTimeoutMs);
    while (rc == -EBUSY && *pBusyRetries < kMaxBusyWrapperRetries) {
        ++*pBusyRetries;
        usb_detach_kernel_driver_np(m_hUsb, 0);
        rc = WriteOut(wrapper, kWrapperSize, kWrapperWriteTimeoutMs);
        usleep(kBusyRetryPauseMicros);
    }
    if (rc != static_cast<int>(kWrapperSize))
        return CKR_DEVICE_ERROR;
    if (WriteOut(pbCommand, ulCommandLen, kWrapperWriteTimeoutMs) != static_cast<int>(ulCommandLen))
        return CKR_DEVICE_ERROR;
    return CKR_OK;
}

CK_RV CToken5105Auto::RecoverStatusAfterStall(int timeoutMs) {
    for (int attempt = 0; attempt < kMaxStallRecoveries; ++attempt) {
        ClearInHalt();
        uint8_t status[kStatusSize];
        const int got = ReadIn(status, kStatusSize, timeoutMs);
        if (got == static_cast<int>(kStatusSize) && IsGoodStatus(status))
            return CKR_OK;
        if (got == -ENODEV)
            return CKR_GENERAL_ERROR;
    }
    return CKR_DEVICE_ERROR;
}

CK_RV CToken5105Auto::TransmitBulkOnly(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                                       CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs) {
    if (ulCommandLen > kMaxCommandLength || !pulResponseLen)
        return CKR_GENERAL_ERROR;
    const CK_ULONG capacity = *pulResponseLen;
    *pulResponseLen = 0;
    if (!IsOpen() || !pbResponse)
        return CKR_GENERAL_ERROR;
    if (ulCommandLen == 0)
        return CKR_OK;
    if (!pbCommand)
        return CKR_GENERAL_ERROR;
    const int timeoutMs = ClampTimeout(ulTimeoutMs);

    try {
        int busyRetries = 0;
        uint8_t status[kStatusSize];
        for (int sends = 1;; ++sends) {
            const CK_RV sent = SendCommand(pbCommand, ulCommandLen, &busyRetries);
            if (sent != CKR_OK)
                return sent;
            const int got = ReadStatusWrapper(status, timeoutMs);
            if (got == 0 || got == -ETIMEDOUT) {
                // The token lost the command: send all of it again.
                if (sends < kMaxCommandSends)
                    continue;
                return CKR_DEVICE_ERROR;
            }
            if (got != static_cast<int>(kStatusSize) || !IsGoodStatus(status))
                return CKR_DEVICE_ERROR;
            break;
        }

        uint8_t wrapper[kWrapperSize];
        BuildWrapper(wrapper, kDataInCapacity, 0x80);
        if (WriteOut(wrapper, kWrapperSize, kWrapperWriteTimeoutMs) != static_cast<int>(kWrapperSize))
            return CKR_DEVICE_ERROR;

        uint8_t data[kDataInCapacity];
        size_t filled = 0;
        int spareReads = kSpareDataReads;
        int emptyReads = 0;
        for (;;) {
            const int got = ReadIn(data + filled, kDataInCapacity - filled, timeoutMs);
            if (got == static_cast<int>(kStatusSize) && std::memcmp(data + filled, kGoodStatus, kStatusSize) == 0) {
                if (filled == 0 && spareReads > 0) {
                    --spareReads;
                    continue;
                }
                break;
            }
            if (filled == 0 && got == 0) {
                if (++emptyReads > kMaxEmptyDataReads)
                    return CKR_DEVICE_ERROR;
                continue;
            }
            if (filled == 0 && got < 0) {
                ReadStatusWrapper(status, timeoutMs);
                break;
            }
            if (got <= 0) {
                if (got == -EPIPE) {
                    const CK_RV recovered = RecoverStatusAfterStall(timeoutMs);
                    if (recovered != CKR_OK)
                        return recovered;
                }
                break;
            }
            filled += static_cast<size_t>(got);
            if (filled >= kDataInCapacity) {
                ReadStatusWrapper(status, timeoutMs);
                break;
            }
        }

        // An answer the caller has no room for is an error, never a cut answer that looks whole.
        if (filled > capacity)
            return CKR_BUFFER_TOO_SMALL;
        std::memcpy(pbResponse, data, filled);
        *pulResponseLen = filled;
        return CKR_OK;
    } catch (...) {
        *pulResponseLen = 0;
        return CKR_GENERAL_ERROR;
    }
}

} // namespace keycore
