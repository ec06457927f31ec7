#include "device/token5105_hid.h"

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

constexpr char kTransportName[] = {'O', 'r', 'v', 'e', 'x', '5', '1', '0', '5', 'H', 'I', 'D'};
constexpr size_t kMaxMessageLength = 0xFFFF;

uint16_t GetBe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void PutBe16(uint8_t* p, size_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

int ClampTimeout(CK_ULONG ulTimeoutMs) {
    return static_cast<int>(std::min<CK_ULONG>(ulTimeoutMs, INT_MAX));
}

} // namespace

CToken5105HID::CToken5105HID(CSlot* pSlot, const std::string& devicePath, bool bSlotFlag)
    : CToken5105(pSlot, devicePath, bSlotFlag) {}

CToken5105HID::~CToken5105HID() {
    CToken5105HID::CloseDevice();
}

int CToken5105HID::GetDeviceType() {
    return token_identity::kDeviceTypeHid;
}

CK_RV CToken5105HID::GetTransportName(char* pName, CK_ULONG ulCapacity) {
    return CopyTransportName(kTransportName, sizeof kTransportName, pName, ulCapacity);
}

CK_RV CToken5105HID::OpenDevice() {
    if (IsOpen())
        return CKR_OK;
    UsbOpenResult opened;
    const CK_RV rv = OpenUsbToken(*this, &opened);
    if (rv != CKR_OK)
        return rv;
    m_deviceMutex.OpenOrCreate(m_devicePath);
    m_bLargePayload = opened.configTotalLength == kLargePayloadConfigLength;
    m_ulProductId = opened.idProduct;
    m_hUsb = opened.handle;
    usb_claim_interface(m_hUsb, 0);
    m_bInputMayBeStale = true;
    return CKR_OK;
}

CK_RV CToken5105HID::CloseDevice() {
    if (IsOpen()) {
        usb_close(m_hUsb);
        m_hUsb = NoUsbHandle();
    }
    return CKR_OK;
}

CK_RV CToken5105HID::TransmitFrame(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                                   CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs) {
    if (!IsOpen() || !pulResponseLen)
        return CKR_GENERAL_ERROR;
    CTokenLockHolder lock(*this);
    if (lock.Result() != CKR_OK)
        return lock.Result();
    const CK_ULONG capacity = *pulResponseLen;
    *pulResponseLen = 0;
    if (!pbResponse || (!pbCommand && ulCommandLen > 0) || ulCommandLen > kMaxMessageLength)
        return CKR_GENERAL_ERROR;
    const int timeoutMs = ClampTimeout(ulTimeoutMs);

    CK_RV rv = CKR_OK;
    try {
        if (m_bInputMayBeStale) {
            DrainInput();
            m_bInputMayBeStale = false;
        }
        CK_ULONG received = 0;
        rv = Exchange(pbCommand, ulCommandLen, pbResponse, capacity, &received, timeoutMs);
        // 61xx: more answer waits on the token. Each round fetches it over the status word just read.
        for (int round = 0; rv == CKR_OK && received >= 2 && pbResponse[received - 2] == 0x61; ++round) {
            if (round >= kMaxGetResponseRounds) {
                rv = CKR_DEVICE_ERROR;
                break;
            }
            const uint8_t le = pbResponse[received - 1] != 0 ? pbResponse[received - 1] : 0x80;
            const unsigned char getResponse[5] = {0x00, 0xC0, 0x00, 0x00, le};
            const CK_ULONG kept = received - 2;
            CK_ULONG more = 0;
            rv = Exchange(getResponse, sizeof getResponse, pbResponse + kept, capacity - kept, &more, timeoutMs);
            received = kept + more;
        }
        if (rv == CKR_OK)
            *pulResponseLen = received;
    } catch (...) {
        rv = CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK)
        m_bInputMayBeStale = true;
    const CK_RV unlocked = lock.Release();
    return rv == CKR_OK && unlocked != CKR_OK ? CKR_CANT_LOCK : rv;
}

CK_RV CToken5105HID::SendReports(const unsigned char* pbCommand, CK_ULONG ulCommandLen, uint8_t lastSent[kReportSize],
                                 int timeoutMs) {
    for (CK_ULONG offset = 0; offset < ulCommandLen; offset += kFragmentPayload) {
        const size_t length = std::min<size_t>(kFragmentPayload, ulCommandLen - offset);
        uint8_t* report = lastSent;
        std::memset(report, 0, kReportSize);
        PutBe16(report, ulCommandLen);
        PutBe16(report + 2, offset);
        PutBe16(report + 4, length);
        std::memcpy(report + kHeaderSize, pbCommand + offset, length);

        int written = 0;
        for (int attempt = 1;; ++attempt) {
            written = usb_interrupt_write(m_hUsb, static_cast<int>(m_ulOutEndpoint), reinterpret_cast<char*>(report),
                                          static_cast<int>(kReportSize), timeoutMs);
            if (written == static_cast<int>(kReportSize) || attempt >= kMaxWriteAttempts)
                break;
            if (written == -ENXIO)
                usleep(kRetryPauseMicros);
            else if (written == -EBUSY)
                usb_detach_kernel_driver_np(m_hUsb, 0);
            else
                break;
        }
        if (written != static_cast<int>(kReportSize))
            // The errno value of the failed write; a short write (no errno) is still a failure.
            return written < 0 ? static_cast<CK_RV>(-written) : CKR_DEVICE_ERROR;
    }
    return CKR_OK;
}

void CToken5105HID::DrainInput() {
    uint8_t report[kReportSize];
    for (int drained = 0; drained < kMaxDrainedReports; ++drained) {
        // Anything but a report (a timeout above all) means the endpoint is empty.
        if (usb_interrupt_read(m_hUsb, static_cast<int>(m_ulInEndpoint), reinterpret_cast<char*>(report),
                               static_cast<int>(kReportSize), kDrainTimeoutMs) <= 0)
            return;
    }
}

int CToken5105HID::ReadReport(uint8_t report[kReportSize], int timeoutMs) {
    int noDevice = 0;
    // A busy token may work for long (key generation); it gets as long as the caller's timeout.
    const long maxBusyReplies = std::max<long>(1, static_cast<long>(timeoutMs) * 1000 / kRetryPauseMicros);
    long busy = 0;
    for (;;) {
        std::memset(report, 0, kReportSize);
        const int got = usb_interrupt_read(m_hUsb, static_cast<int>(m_ulInEndpoint), reinterpret_cast<char*>(report),
                                           static_cast<int>(kReportSize), timeoutMs);
        if (got == -ENXIO) {
            if (++noDevice >= kMaxNoDeviceReads)
                return got;
            usleep(kRetryPauseMicros);
            continue;
        }
        if (got == 2 && report[0] == 0 && report[1] == 0) {
            if (++busy > maxBusyReplies)
                return got;
            usleep(kRetryPauseMicros);
            continue;
        }
        return got;
    }
}

CK_RV CToken5105HID::Exchange(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                              CK_ULONG ulCapacity, CK_ULONG* pulResponseLen, int timeoutMs) {
    *pulResponseLen = 0;
    if (ulCommandLen == 0)
        return CKR_OK;
    uint8_t lastSent[kReportSize];
    const CK_RV sent = SendReports(pbCommand, ulCommandLen, lastSent, timeoutMs);
    if (sent != CKR_OK)
        return sent;

    size_t received = 0;
    int ignored = 0;
    uint8_t report[kReportSize];
    for (;;) {
        if (ReadReport(report, timeoutMs) != static_cast<int>(kReportSize))
            return CKR_GENERAL_ERROR;
        const size_t total = GetBe16(report);
        const size_t offset = GetBe16(report + 2);
        const size_t length = GetBe16(report + 4);
        const bool echo = received == 0 && std::memcmp(report, lastSent, kReportSize) == 0;
        if (echo || total == 0 || length == 0) {
            if (++ignored > kMaxIgnoredReports)
                return CKR_DATA_INVALID;
            continue;
        }
        if (length > kFragmentPayload || offset != received || received + length > ulCapacity ||
            total < received + length)
            return CKR_DATA_INVALID;
        std::memcpy(pbResponse + offset, report + kHeaderSize, length);
        received += length;
        if (received == total)
            break;
    }
    *pulResponseLen = received;
    return CKR_OK;
}

} // namespace keycore
