#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/myasn1.h"
#include "tests/crypto/openssl_reference.h"

namespace {

using reference::Bytes;
using reference::FromHex;

Bytes WithContent(const std::string& headerHex, size_t contentLen) {
    Bytes out = FromHex(headerHex);
    out.insert(out.end(), contentLen, 0xAB);
    return out;
}

TEST(Myasn1GetObject, TableOfEncodings) {
    struct Case {
        const char* name;
        Bytes der;
        long result;        // content length or -1
        long contentOffset; // where the content starts, when result >= 0
        int cls, constructed, tag;
    } const cases[] = {
        {"short INTEGER", FromHex("020105"), 1, 2, 0x00, 0x00, 2},
        {"empty SEQUENCE", FromHex("3000"), 0, 2, 0x00, 0x20, 16},
        {"context tag, constructed", FromHex("A003010203"), 3, 2, 0x80, 0x20, 0},
        {"application tag", FromHex("4101FF"), 1, 2, 0x40, 0x00, 1},
        {"private tag 30", FromHex("DE00"), 0, 2, 0xC0, 0x00, 30},
        {"trailing bytes are not content", FromHex("020105FFFF"), 1, 2, 0x00, 0x00, 2},
        {"long form, one byte", WithContent("028180", 128), 128, 3, 0x00, 0x00, 2},
        {"long form, two bytes", WithContent("04820100", 256), 256, 4, 0x00, 0x00, 4},
        {"long form, non-minimal", WithContent("048105", 5), 5, 3, 0x00, 0x00, 4},
        {"long form, four bytes", WithContent("0484000000FF", 255), 255, 6, 0x00, 0x00, 4},
        {"long form, zero length", FromHex("048100"), 0, 3, 0x00, 0x00, 4},

        {"empty", Bytes{}, -1, 0, 0, 0, 0},
        {"one byte", FromHex("02"), -1, 0, 0, 0, 0},
        {"high tag number", FromHex("1F0100"), -1, 0, 0, 0, 0},
        {"high tag number, constructed context", FromHex("BF0100"), -1, 0, 0, 0, 0},
        {"indefinite length", FromHex("30800000"), -1, 0, 0, 0, 0},
        {"five length bytes", WithContent("02850000000001", 1), -1, 0, 0, 0, 0},
        {"long form 0xFF", FromHex("02FF00"), -1, 0, 0, 0, 0},
        {"short content", FromHex("0405414243"), -1, 0, 0, 0, 0},
        {"long form content one short", WithContent("028180", 127), -1, 0, 0, 0, 0},
        {"length bytes truncated", FromHex("028201"), -1, 0, 0, 0, 0},
        {"length bytes missing", FromHex("0281"), -1, 0, 0, 0, 0},
        {"length beyond the buffer", FromHex("02847FFFFFFF00"), -1, 0, 0, 0, 0},
        {"negative length", FromHex("028480000000"), -1, 0, 0, 0, 0},
        {"all ones length", FromHex("0284FFFFFFFF"), -1, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        int cls = -7, constructed = -7, tag = -7;
        const unsigned char* content = nullptr;
        long contentLen = -7;
        long rc = myasn1_get_object(c.der.empty() ? nullptr : c.der.data(), static_cast<long>(c.der.size()), &cls,
                                    &constructed, &tag, &content, &contentLen);
        EXPECT_EQ(rc, c.result) << c.name;
        if (c.result >= 0) {
            EXPECT_EQ(content, c.der.data() + c.contentOffset) << c.name;
            EXPECT_EQ(contentLen, c.result) << c.name;
            EXPECT_EQ(cls, c.cls) << c.name;
            EXPECT_EQ(constructed, c.constructed) << c.name;
            EXPECT_EQ(tag, c.tag) << c.name;
        } else {
            // A refused header leaves the caller's variables alone.
            EXPECT_EQ(content, nullptr) << c.name;
            EXPECT_EQ(contentLen, -7) << c.name;
            EXPECT_EQ(cls, -7) << c.name;
            EXPECT_EQ(tag, -7) << c.name;
        }
    }
}

TEST(Myasn1GetObject, OutputsAreOptional) {
    Bytes der = WithContent("028180", 128);
    EXPECT_EQ(myasn1_get_object(der.data(), static_cast<long>(der.size()), nullptr, nullptr, nullptr, nullptr, nullptr),
              128);
    const unsigned char* content = nullptr;
    EXPECT_EQ(
        myasn1_get_object(der.data(), static_cast<long>(der.size()), nullptr, nullptr, nullptr, &content, nullptr),
        128);
    EXPECT_EQ(content, der.data() + 3);
}

// The stated length, not the buffer, bounds the read: a length argument smaller than the real
// buffer turns a good encoding into a refused one.
TEST(Myasn1GetObject, HonoursTheGivenLengthNotTheBuffer) {
    Bytes der = WithContent("028180", 128);
    for (long len : {0L, 1L, 2L, 3L, 100L, 130L}) {
        EXPECT_EQ(myasn1_get_object(der.data(), len, nullptr, nullptr, nullptr, nullptr, nullptr), -1) << len;
    }
    EXPECT_EQ(myasn1_get_object(der.data(), -5, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(myasn1_get_object(der.data(), 131, nullptr, nullptr, nullptr, nullptr, nullptr), 128);
}

// Walking an X.509-like nesting with the reader: outer SEQUENCE, then its first element.
TEST(Myasn1GetObject, ReadsNestedHeaders) {
    Bytes inner = FromHex("0203010001");
    Bytes der = FromHex("3082");
    Bytes body = inner;
    body.insert(body.end(), 300, 0x05);
    der.push_back(static_cast<unsigned char>(body.size() >> 8));
    der.push_back(static_cast<unsigned char>(body.size()));
    der.insert(der.end(), body.begin(), body.end());

    const unsigned char* content = nullptr;
    long outer =
        myasn1_get_object(der.data(), static_cast<long>(der.size()), nullptr, nullptr, nullptr, &content, nullptr);
    ASSERT_EQ(outer, static_cast<long>(body.size()));
    int tag = 0;
    const unsigned char* value = nullptr;
    EXPECT_EQ(myasn1_get_object(content, outer, nullptr, nullptr, &tag, &value, nullptr), 3);
    EXPECT_EQ(tag, 2);
    EXPECT_EQ(Bytes(value, value + 3), FromHex("010001"));
}

} // namespace
