#pragma once
// The token over 64-byte HID reports: every message is cut into fragments of at most 58 bytes behind
// a 6-byte header (total length, fragment offset, fragment length; big-endian) and put together
// again on the way back. An answer ending in 61xx is fetched further with GET RESPONSE.

#include "device/token5105.h"

#include <cstddef>
#include <cstdint>

namespace keycore {

class CToken5105HID : public CToken5105 {
public:
    static constexpr size_t kReportSize = 64;
    static constexpr size_t kHeaderSize = 6;
    static constexpr size_t kFragmentPayload = 58;
    static constexpr int kRetryPauseMicros = 50000;
    static constexpr int kMaxWriteAttempts = 10;
    static constexpr int kMaxNoDeviceReads = 21;
    // The 21st ignored report (echo or empty fragment) ends the exchange.
    static constexpr int kMaxIgnoredReports = 20;
    // GET RESPONSE rounds after one command; a token that keeps answering 61xx is in error.
    static constexpr int kMaxGetResponseRounds = 64;
    // wTotalLength of the configuration that allows large APDUs.
    static constexpr uint16_t kLargePayloadConfigLength = 65;
    // Draining leftover answer reports before a command: a whole answer of the token's largest send
    // buffer is 36 reports; the rest of the bound covers echoes left over from a failed exchange.
    static constexpr int kMaxDrainedReports = 64;
    static constexpr int kDrainTimeoutMs = 10;

    CToken5105HID(CSlot* pSlot, const std::string& devicePath, bool bSlotFlag);
    ~CToken5105HID() override;

    int GetDeviceType() override;
    CK_RV GetTransportName(char* pName, CK_ULONG ulCapacity) override;
    CK_RV OpenDevice() override;
    CK_RV CloseDevice() override;
    // *pulResponseLen is the capacity of pbResponse on entry; an answer that does not fit is
    // CKR_DATA_INVALID. A failed report write returns its errno value.
    CK_RV TransmitFrame(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                        CK_ULONG* pulResponseLen, CK_ULONG ulTimeoutMs) override;

private:
    // One message out, one message in, without GET RESPONSE. The caller holds the device lock.
    CK_RV Exchange(const unsigned char* pbCommand, CK_ULONG ulCommandLen, unsigned char* pbResponse,
                   CK_ULONG ulCapacity, CK_ULONG* pulResponseLen, int timeoutMs);
    CK_RV SendReports(const unsigned char* pbCommand, CK_ULONG ulCommandLen, uint8_t lastSent[kReportSize],
                      int timeoutMs);
    // Reads one report, waiting out busy replies and a missing device (both bounded).
    int ReadReport(uint8_t report[kReportSize], int timeoutMs);
    // Reads and drops whatever answer reports wait on the IN endpoint. The caller holds the device lock.
    void DrainInput();

    // The token may hold answer reports nobody read: after a failed exchange, and at open (another
    // holder of the device may have failed). Reports carry no tag, so the next command would take
    // them for its own answer; they are drained first. Only then, so a good exchange costs nothing.
    bool m_bInputMayBeStale = true;
};

} // namespace keycore
