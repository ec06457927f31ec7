// Token answers are outside bytes: a device (or something posing as one) may send anything. This
// target serves the input as a sequence of answers to the token object's commands and runs the
// operations that read answers, which must end with a code and never read or write out of bounds.
//
// Input: a series of records, each a 2-byte big-endian length and that many answer bytes. When the
// input runs out, every further exchange fails as an unplugged token would.

#include "device/token5105.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

class CAnswerReplayToken : public keycore::CToken5105 {
public:
    CAnswerReplayToken(const uint8_t* data, size_t size)
        : CToken5105(reinterpret_cast<keycore::CSlot*>(&m_slotStandIn), "001:001", false), m_data(data), m_size(size) {}

    int GetDeviceType() override { return 9; }
    CK_RV GetTransportName(char*, CK_ULONG) override { return CKR_OK; }
    CK_RV OpenDevice() override { return CKR_OK; }
    CK_RV CloseDevice() override { return CKR_OK; }
    CK_RV SelectEndpoints(struct usb_device*) override { return CKR_OK; }

    CK_RV TransmitFrame(const unsigned char*, CK_ULONG, unsigned char* pbResponse, CK_ULONG* pulResponseLen,
                        CK_ULONG) override {
        if (m_pos + 2 > m_size)
            return CKR_DEVICE_ERROR;
        size_t len = static_cast<size_t>(m_data[m_pos]) << 8 | m_data[m_pos + 1];
        m_pos += 2;
        len = std::min(len, m_size - m_pos);
        if (len > *pulResponseLen)
            return CKR_BUFFER_TOO_SMALL;
        std::memcpy(pbResponse, m_data + m_pos, len);
        m_pos += len;
        *pulResponseLen = len;
        return CKR_OK;
    }

private:
    char m_slotStandIn = 0;
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CAnswerReplayToken token(data, size);
    token.EnsureApplication();
    keycore::AUX_PIN_INFO pinInfo;
    token.GetPinInfo(&pinInfo);
    CK_TOKEN_INFO info;
    token.GetTokenInfo(&info);
    std::string pin = "12345678";
    token.Login(CKU_SO, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size());
    unsigned char modulus[256];
    CK_ULONG modulusLen = sizeof modulus;
    unsigned char exponent[4];
    CK_ULONG exponentLen = 0;
    token.ExportRsaPublicKey("c", modulus, &modulusLen, exponent, &exponentLen, 0);
    CK_ULONG e = 0;
    modulusLen = sizeof modulus;
    token.GenerateRsaKeyPair(1, 1024, &e, modulus, &modulusLen);
    std::vector<unsigned char> buffer(600);
    token.GenRandom(buffer.data(), buffer.size());
    CK_ULONG len = 0;
    token.ReadFile(1, "f", 0, static_cast<CK_ULONG>(buffer.size()), buffer.data(), &len);
    len = static_cast<CK_ULONG>(buffer.size());
    token.ExportCertificate(1, 1, true, buffer.data(), &len);
    char names[64];
    len = sizeof names;
    token.EnumContainer(1, names, &len);
    uint32_t type = 0;
    token.GetContainerType(1, "c", &type);
    unsigned char plain[64];
    len = sizeof plain;
    const unsigned char point[32] = {};
    token.ExtEccDecrypt(point, point, point, point, point, 4, plain, &len);
    std::vector<unsigned char> answer;
    token.ChangeDevAuthKeySm2(point, &answer);
    return 0;
}
