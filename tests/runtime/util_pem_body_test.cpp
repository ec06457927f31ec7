#include "runtime/pem_body.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/runtime/util_test_certificates.h"

namespace keycore {
namespace {

// Decodes text with room to spare; the output keeps a '#' fill where nothing was written.
struct Decoded {
    long result;
    std::vector<unsigned char> output;
};

Decoded Decode(const std::string& text, size_t capacity = 256) {
    // An exact-size copy, not NUL-terminated, so that a read past the end shows under ASan.
    std::vector<char> exact(text.begin(), text.end());
    Decoded d{0, std::vector<unsigned char>(capacity, '#')};
    d.result = DecodePemBody(exact.data(), exact.size(), d.output.data(), capacity);
    return d;
}

std::string Bytes(const Decoded& d) {
    return d.result > 0 ? std::string(d.output.begin(), d.output.begin() + d.result) : std::string();
}

TEST(DecodePemBodyTest, ResultsForMarkersAndBodies) {
    struct Case {
        const char* name;
        std::string text;
        long result;
        std::string bytes; // the first result bytes of the output
    };
    const Case cases[] = {
        {"bare base64", "TWFu", 3, "Man"},
        {"bare base64 with line breaks", "TWFu\r\nTWFu\n", 6, "ManMan"},
        {"blanks inside the body", "TWFu TWFu\tTWFu", 9, "ManManMan"},
        {"one pad: bound one above the data, slack zeroed", "TWE=", 3, std::string("Ma\0", 3)},
        {"two pads", "TQ==", 3, std::string("M\0\0", 3)},
        {"markers", "-----BEGIN X-----\nTWFu\n-----END X-----\n", 3, "Man"},
        {"markers and CRLF", "-----BEGIN X-----\r\nTWFu\r\nTWE=\r\n-----END X-----\r\n", 6, std::string("ManMa\0", 6)},
        {"no end marker", "-----BEGIN X-----\nTWFu\n", 3, "Man"},
        {"junk after the body is dropped", "-----BEGIN X-----\nTWFu\n*** \n-----END X-----", 3, "Man"},
        {"first marker without a second", "-----BEGIN X\nTWFu\n", -1, ""},
        {"only an end line", "-----END X-----", 0, ""},
        {"empty text", "", 0, ""},
        {"nothing after the markers", "-----BEGIN X-----", 0, ""},
        {"only line breaks after the markers", "-----BEGIN X-----\r\n\r\n", 0, ""},
        {"empty body between markers", "-----BEGIN X-----\n-----END X-----\n", 0, ""},
        {"body starts with a blank", "-----BEGIN X-----\n TWFu\n-----END X-----", 0, ""},
        {"body starts with a foreign character", "*TWFu", 0, ""},
        {"length not a multiple of four", "TWF", 0, ""},
        {"five characters", "TWFuT", 0, ""},
        {"pad in the middle", "TW=uTWFu", 0, ""},
        {"data after a pad", "TQ=a", 0, ""},
        {"three pads", "T===", 0, ""},
    };
    for (const Case& c : cases) {
        Decoded d = Decode(c.text);
        EXPECT_EQ(d.result, c.result) << c.name;
        EXPECT_EQ(Bytes(d), c.bytes) << c.name;
        if (d.result <= 0) {
            EXPECT_EQ(d.output[0], '#') << c.name << ": output written on failure";
        }
    }
}

TEST(DecodePemBodyTest, CertificateGivesItsDerBytes) {
    auto key = testing::MakeRsaKey(1024);
    ASSERT_TRUE(key);
    testing::TestCertificate cert = testing::MakeSelfSignedCertificate(key.get());
    ASSERT_FALSE(cert.der.empty());
    ASSERT_NE(cert.pem.find("-----BEGIN CERTIFICATE-----"), std::string::npos);

    for (const std::string& pem : {cert.pem, "leading words\n" + cert.pem}) {
        Decoded d = Decode(pem, 4096);
        ASSERT_GE(d.result, static_cast<long>(cert.der.size()));
        ASSERT_LE(d.result, static_cast<long>(cert.der.size()) + 2);
        EXPECT_EQ(std::vector<unsigned char>(d.output.begin(), d.output.begin() + cert.der.size()), cert.der);
        for (long i = static_cast<long>(cert.der.size()); i < d.result; ++i)
            EXPECT_EQ(d.output[static_cast<size_t>(i)], 0) << "slack byte " << i;
    }
}

TEST(DecodePemBodyTest, TruncatedCertificate) {
    auto key = testing::MakeRsaKey(1024);
    ASSERT_TRUE(key);
    testing::TestCertificate cert = testing::MakeSelfSignedCertificate(key.get());
    const size_t bodyStart = cert.pem.find('\n') + 1;

    // Cut inside a group of four: malformed.
    EXPECT_EQ(Decode(cert.pem.substr(0, bodyStart + 10), 4096).result, 0);
    // Cut between groups: the decodable prefix comes back, and its DER length tells it is short.
    Decoded d = Decode(cert.pem.substr(0, bodyStart + 40), 4096);
    ASSERT_EQ(d.result, 30);
    EXPECT_EQ(std::vector<unsigned char>(d.output.begin(), d.output.begin() + 30),
              std::vector<unsigned char>(cert.der.begin(), cert.der.begin() + 30));
    // Cut inside the BEGIN line: no second marker.
    EXPECT_EQ(Decode(cert.pem.substr(0, 12), 4096).result, -1);
}

TEST(DecodePemBodyTest, AgreesWithOpenSslOnRandomData) {
    for (size_t size = 1; size <= 130; ++size) {
        std::vector<unsigned char> data(size);
        ASSERT_EQ(RAND_bytes(data.data(), static_cast<int>(size)), 1);
        std::string encoded(4 * ((size + 2) / 3) + 1, '\0');
        int encodedLength =
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&encoded[0]), data.data(), static_cast<int>(size));
        encoded.resize(static_cast<size_t>(encodedLength));

        std::vector<unsigned char> reference(encoded.size());
        int referenceLength =
            EVP_DecodeBlock(reference.data(), reinterpret_cast<const unsigned char*>(encoded.data()), encodedLength);
        ASSERT_EQ(referenceLength, encodedLength / 4 * 3);

        Decoded d = Decode(encoded, encoded.size());
        ASSERT_EQ(d.result, referenceLength) << size;
        EXPECT_EQ(std::vector<unsigned char>(d.output.begin(), d.output.begin() + size), data) << size;
    }
}

TEST(DecodePemBodyTest, CapacityMustHoldTheBound) {
    const std::string text = "TWFuTWE=";
    Decoded exact = Decode(text, 6);
    EXPECT_EQ(exact.result, 6);
    EXPECT_EQ(Bytes(exact), std::string("ManMa\0", 6));

    Decoded tooSmall = Decode(text, 5);
    EXPECT_EQ(tooSmall.result, 0);
    EXPECT_EQ(std::string(tooSmall.output.begin(), tooSmall.output.end()), "#####");
}

TEST(DecodePemBodyTest, ReadsOnlyTheGivenLength) {
    const char text[] = "TWFuTWFu-----";
    unsigned char out[16];
    EXPECT_EQ(DecodePemBody(text, 4, out, sizeof out), 3);
    EXPECT_EQ(std::memcmp(out, "Man", 3), 0);
    // "-----" split by the length is no marker.
    EXPECT_EQ(DecodePemBody("-----BEGIN-----TWFu", 4, out, sizeof out), 0);
    EXPECT_EQ(DecodePemBody("-----BEGIN-----TWFu", 14, out, sizeof out), -1);
}

TEST(DecodePemBodyTest, NullArgumentsFail) {
    unsigned char out[8];
    EXPECT_EQ(DecodePemBody(nullptr, 4, out, sizeof out), 0);
    EXPECT_EQ(DecodePemBody("TWFu", 4, nullptr, 8), 0);
}

} // namespace
} // namespace keycore
