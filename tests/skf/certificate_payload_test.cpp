// The recognition of key pairs among the bytes handed to the certificate import, on its own.
#include "skf/skf_cert_payload.h"

#include <gtest/gtest.h>

#include <vector>

namespace keycore {
namespace {

TEST(CertPayloadTest, EncodingsAreRecognisedInOrder) {
    std::vector<unsigned char> ecc(97, 0x11);
    ecc[0] = 0x04;
    std::vector<unsigned char> ecc96(ecc.begin(), ecc.end() - 1);
    std::vector<unsigned char> notEcc = ecc;
    notEcc[0] = 0x03;
    // SEQUENCE { INTEGER 0, INTEGER 00 C1 02 03 05 } with a one-byte outer length (low bits 0x0D > 2)
    // and the same with a two-byte outer length.
    const std::vector<unsigned char> shortOuter = {0x30, 0x0D, 0x02, 0x01, 0x00, 0x02,
                                                   0x05, 0x00, 0xC1, 0x02, 0x03, 0x05};
    const std::vector<unsigned char> rsa40 = {0x30, 0x82, 0x00, 0x0C, 0x02, 0x01, 0x00,
                                              0x02, 0x05, 0x00, 0xC1, 0x02, 0x03, 0x05};
    const std::vector<unsigned char> evenWithZero = {0x30, 0x82, 0x00, 0x0C, 0x02, 0x01, 0x00,
                                                     0x02, 0x04, 0x00, 0xC1, 0x02, 0x03};
    std::vector<unsigned char> longModulus = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x82, 0x01, 0x01, 0x00};
    longModulus.resize(12 + 256, 0xC3);
    const std::vector<unsigned char> threeLengthBytes = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x01, 0x00,
                                                         0x02, 0x83, 0x00, 0x01, 0x01, 0x00};
    const std::vector<unsigned char> modulusPastEnd = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x01,
                                                       0x00, 0x02, 0x82, 0x01, 0x01};
    const std::vector<unsigned char> certificateLike = {0x30, 0x82, 0x01, 0x82, 0x30, 0x82, 0x01, 0x29, 0xA0};
    const std::vector<unsigned char> lonelyZero = {0x30, 0x82, 0x00, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};

    const struct {
        const char* what;
        const std::vector<unsigned char>& bytes;
        CertPayload kind;
        uint32_t bits;
    } cases[] = {
        {"97 bytes from 0x04", ecc, CertPayload::EccKeyPair, 0},
        {"96 bytes from 0x04", ecc96, CertPayload::Certificate, 0},
        {"97 bytes from 0x03", notEcc, CertPayload::Certificate, 0},
        {"outer length byte with low bits above 2", shortOuter, CertPayload::Certificate, 0},
        {"odd modulus with a leading zero", rsa40, CertPayload::RsaKeyPair, 32},
        {"even modulus keeps its zero", evenWithZero, CertPayload::RsaKeyPair, 32},
        {"2048-bit modulus in long form", longModulus, CertPayload::RsaKeyPair, 2048},
        {"modulus length in three bytes", threeLengthBytes, CertPayload::BadRsaKey, 0},
        {"modulus running past the end", modulusPastEnd, CertPayload::Certificate, 0},
        {"X.509 certificate", certificateLike, CertPayload::Certificate, 0},
        {"modulus of one zero byte", lonelyZero, CertPayload::Certificate, 0},
    };
    for (const auto& c : cases) {
        uint32_t bits = 0;
        EXPECT_EQ(ClassifyCertPayload(c.bytes.data(), c.bytes.size(), &bits), c.kind) << c.what;
        if (c.kind == CertPayload::RsaKeyPair) {
            EXPECT_EQ(bits, c.bits) << c.what;
        }
    }
}

} // namespace
} // namespace keycore
