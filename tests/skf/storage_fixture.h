#pragma once
// A virtual token plugged before the first SKF call, connected and its default application opened:
// the starting point of the application, file, container and certificate tests.

#include "keycore/skf.h"
#include "vtoken_test_support.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace keycore::test {

inline constexpr char kDefaultApp[] = "KEYCORE-APP";
inline constexpr char kDefaultPinText[] = "12345678";
inline constexpr char kDeviceKey[] = "1234567812345678";
inline constexpr ULONG kUserPinType = 1;

// The names of a NUL-separated list ending in an empty name.
inline std::vector<std::string> SplitNameList(const char* list, size_t len) {
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos < len && list[pos] != '\0') {
        const std::string name(list + pos);
        names.push_back(name);
        pos += name.size() + 1;
    }
    return names;
}

inline LPSTR Text(const char* text) {
    return const_cast<LPSTR>(text);
}

class SkfStorageTest : public vtoken::test::VtokenTest {
protected:
    void SetUp() override {
        VtokenTest::SetUp();
        m_token = Plug(PlugOptions());
        m_devName = WaitForDeviceCount(1);
        ASSERT_FALSE(m_devName.empty());
        ASSERT_EQ(SKF_ConnectDev(Text(m_devName.c_str()), &m_dev), SAR_OK);
        if (OpenDefaultApplication()) {
            ASSERT_EQ(SKF_OpenApplication(m_dev, Text(kDefaultApp), &m_app), SAR_OK);
        }
    }

    virtual std::vector<std::string> PlugOptions() const { return {}; }
    virtual bool OpenDefaultApplication() const { return true; }

    // Polls the device list until it holds `count` names; the first name (empty when it never does).
    std::string WaitForDeviceCount(size_t count) {
        for (int i = 0; i < 2000; ++i) {
            char list[1024] = {};
            ULONG size = sizeof list;
            if (SKF_EnumDev(1, list, &size) == SAR_OK) {
                const std::vector<std::string> names = SplitNameList(list, size);
                if (names.size() == count)
                    return count == 0 ? std::string() : names.front();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::string();
    }

    void Unplug() {
        ASSERT_EQ(vtoken::test::RunTool({"unplug", m_token.id}).exitCode, 0);
        WaitForDeviceCount(0);
    }

    void VerifyUserPin(HAPPLICATION app = nullptr) {
        ULONG retry = 0;
        ASSERT_EQ(SKF_VerifyPIN(app != nullptr ? app : m_app, kUserPinType, Text(kDefaultPinText), &retry), SAR_OK);
    }

    // Device authentication with the default key: the token's challenge, zero-padded to one block,
    // encrypted with SM4-ECB.
    void AuthenticateDevice() {
        BYTE challenge[16] = {};
        ASSERT_EQ(SKF_GenRandom(m_dev, challenge, 8), SAR_OK);
        BYTE response[16] = {};
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int outLen = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, reinterpret_cast<const unsigned char*>(kDeviceKey),
                                     nullptr),
                  1);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        ASSERT_EQ(EVP_EncryptUpdate(ctx, response, &outLen, challenge, sizeof challenge), 1);
        EVP_CIPHER_CTX_free(ctx);
        ASSERT_EQ(SKF_DevAuth(m_dev, response, sizeof response), SAR_OK);
    }

    // Arms one forced status word for the next command with that INS.
    void ForceStatus(uint8_t ins, uint16_t status) {
        char rule[64];
        std::snprintf(rule, sizeof rule, "sw:INS=0x%02X,SW=0x%04X", ins, status);
        Fault(m_token, {rule});
    }

    vtoken::test::PluggedToken m_token;
    std::string m_devName;
    DEVHANDLE m_dev = nullptr;
    HAPPLICATION m_app = nullptr;
};

// INS bytes of the token commands these tests force status words on.
namespace ins {
inline constexpr uint8_t kCreateApplication = 0x20;
inline constexpr uint8_t kEnumApplication = 0x22;
inline constexpr uint8_t kDeleteApplication = 0x24;
inline constexpr uint8_t kOpenApplication = 0x26;
inline constexpr uint8_t kCloseApplication = 0x28;
inline constexpr uint8_t kCreateFile = 0x30;
inline constexpr uint8_t kDeleteFile = 0x32;
inline constexpr uint8_t kEnumFiles = 0x34;
inline constexpr uint8_t kFileInfo = 0x36;
inline constexpr uint8_t kReadFile = 0x38;
inline constexpr uint8_t kWriteFile = 0x3A;
inline constexpr uint8_t kCreateContainer = 0x40;
inline constexpr uint8_t kOpenContainer = 0x42;
inline constexpr uint8_t kCloseContainer = 0x44;
inline constexpr uint8_t kEnumContainer = 0x46;
inline constexpr uint8_t kDeleteContainer = 0x48;
inline constexpr uint8_t kContainerInfo = 0x4A;
inline constexpr uint8_t kImportCertificate = 0x4C;
inline constexpr uint8_t kExportCertificate = 0x4E;
} // namespace ins

} // namespace keycore::test
