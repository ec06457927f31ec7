// The SM2 functions' refusals over a virtual token: missing arguments, foreign and closed handles, a
// device that is gone, every function's status table with its outputs left untouched, and the
// re-select loop of the container functions (with the public-key export's narrower recovery).
#include "ecc_support.h"

#include <functional>

namespace keycore::test {
namespace {

constexpr BYTE kSentinel = 0xEE;

// Every argument the thirteen functions take, valid, with outputs filled with a sentinel.
struct EccArguments {
    EccArguments() : cipher(32), envelope(sizeof(ENVELOPEDKEYBLOB) + 16, 0) {
        PkeyPtr key = NewSm2Key();
        pub = PublicBlob(key.get());
        priv = PrivateBlob(key.get());
        temp = PublicBlob(NewSm2Key().get());
        cipher = BlobFromDer(OpenSslEncryptDer(key.get(), Bytes(32, 0x31)));
        const ULONG wrappedLen = 16;
        std::memcpy(envelope.data() + offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) + offsetof(ECCCIPHERBLOB, CipherLen),
                    &wrappedLen, sizeof wrappedLen);
        ResetOutputs();
    }
    void ResetOutputs() {
        std::memset(&outKey, kSentinel, sizeof outKey);
        std::memset(&outSig, kSentinel, sizeof outSig);
        outCipher.assign(offsetof(ECCCIPHERBLOB, Cipher) + 64, kSentinel);
        plain.assign(64, kSentinel);
        plainLen = static_cast<ULONG>(plain.size());
        handle = nullptr;
    }
    bool OutputsUntouched() const {
        const auto untouched = [](const void* p, size_t n) {
            const BYTE* b = static_cast<const BYTE*>(p);
            return std::all_of(b, b + n, [](BYTE v) { return v == kSentinel; });
        };
        return untouched(&outKey, sizeof outKey) && untouched(&outSig, sizeof outSig) &&
               untouched(outCipher.data(), outCipher.size()) && untouched(plain.data(), plain.size()) &&
               handle == nullptr;
    }
    ECCCIPHERBLOB* OutCipher() { return reinterpret_cast<ECCCIPHERBLOB*>(outCipher.data()); }
    ENVELOPEDKEYBLOB* Envelope() { return reinterpret_cast<ENVELOPEDKEYBLOB*>(envelope.data()); }

    ECCPUBLICKEYBLOB pub{};
    ECCPRIVATEKEYBLOB priv{};
    ECCPUBLICKEYBLOB temp{};
    Bytes digest = Bytes(32, 0x5C);
    Bytes id = Bytes(kSm2Id, kSm2Id + 16);
    CipherBlob cipher;
    Bytes envelope;
    ECCPUBLICKEYBLOB outKey{};
    ECCSIGNATUREBLOB outSig{};
    Bytes outCipher;
    Bytes plain;
    ULONG plainLen = 0;
    HANDLE handle = nullptr;
};

class EccErrorsTest : public EccTest {
protected:
    void SetUp() override {
        EccTest::SetUp();
        if (HasFatalFailure())
            return;
        m_key = GenerateKey();
        ECCPUBLICKEYBLOB temp{};
        ASSERT_EQ(SKF_GenerateAgreementDataWithECC(m_container, SGD_SM4_ECB, &temp, m_args.id.data(), 16, &m_agreement),
                  SAR_OK);
    }

    // One call of each function with the handles given (container, device, agreement).
    struct Call {
        const char* name;
        uint8_t ins;
        std::function<ULONG(HANDLE container, HANDLE device, HANDLE agreement)> run;
    };

    std::vector<Call> Calls() {
        EccArguments& a = m_args;
        return {
            {"GenECCKeyPair", ecc_ins::kGenKeyPair,
             [&a](HANDLE c, HANDLE, HANDLE) { return SKF_GenECCKeyPair(c, SGD_SM2_1, &a.outKey); }},
            {"ImportECCKeyPair", ecc_ins::kImportKeyPair,
             [&a](HANDLE c, HANDLE, HANDLE) { return SKF_ImportECCKeyPair(c, a.Envelope()); }},
            {"ECCSignData", ecc_ins::kSign,
             [&a](HANDLE c, HANDLE, HANDLE) { return SKF_ECCSignData(c, a.digest.data(), 32, &a.outSig); }},
            {"ECCVerify", ecc_ins::kVerify,
             [&a](HANDLE, HANDLE d, HANDLE) {
                 ECCSIGNATUREBLOB sig{};
                 return SKF_ECCVerify(d, &a.pub, a.digest.data(), 32, &sig);
             }},
            {"ExtECCVerify", ecc_ins::kVerify,
             [&a](HANDLE, HANDLE d, HANDLE) {
                 ECCSIGNATUREBLOB sig{};
                 return SKF_ExtECCVerify(d, &a.pub, a.digest.data(), 32, &sig);
             }},
            {"ECCExportSessionKey", ecc_ins::kExportSessionKey,
             [&a](HANDLE c, HANDLE, HANDLE) {
                 return SKF_ECCExportSessionKey(c, SGD_SM4_ECB, &a.pub, a.OutCipher(), &a.handle);
             }},
            {"ExtECCEncrypt", ecc_ins::kExtEncrypt,
             [&a](HANDLE, HANDLE d, HANDLE) {
                 return SKF_ExtECCEncrypt(d, &a.pub, a.digest.data(), 32, a.OutCipher());
             }},
            {"ExtECCDecrypt", ecc_ins::kExtDecrypt,
             [&a](HANDLE, HANDLE d, HANDLE) {
                 return SKF_ExtECCDecrypt(d, &a.priv, a.cipher.get(), a.plain.data(), &a.plainLen);
             }},
            {"ExtECCSign", ecc_ins::kExtSign,
             [&a](HANDLE, HANDLE d, HANDLE) { return SKF_ExtECCSign(d, &a.priv, a.digest.data(), 32, &a.outSig); }},
            {"GenerateAgreementDataWithECC", ecc_ins::kAgreementData,
             [&a](HANDLE c, HANDLE, HANDLE) {
                 return SKF_GenerateAgreementDataWithECC(c, SGD_SM4_ECB, &a.outKey, a.id.data(), 16, &a.handle);
             }},
            {"GenerateAgreementDataAndKeyWithECC", ecc_ins::kAgreementDataAndKey,
             [&a](HANDLE c, HANDLE, HANDLE) {
                 return SKF_GenerateAgreementDataAndKeyWithECC(c, SGD_SM4_ECB, &a.pub, &a.temp, &a.outKey, a.id.data(),
                                                               16, a.id.data(), 8, &a.handle);
             }},
            {"GenerateKeyWithECC", ecc_ins::kAgreementKey,
             [&a](HANDLE, HANDLE, HANDLE g) {
                 return SKF_GenerateKeyWithECC(g, &a.pub, &a.temp, a.id.data(), 16, &a.handle);
             }},
            {"ExportPublicKey", ecc_ins::kExportPublicKey,
             [&a](HANDLE c, HANDLE, HANDLE) {
                 ULONG len = sizeof a.outKey;
                 return SKF_ExportPublicKey(c, TRUE, reinterpret_cast<BYTE*>(&a.outKey), &len);
             }},
        };
    }

    const Call& CallNamed(const std::vector<Call>& calls, const std::string& name) {
        for (const Call& call : calls) {
            if (name == call.name)
                return call;
        }
        ADD_FAILURE() << name;
        return calls.front();
    }

    ULONG Run(const Call& call) { return call.run(m_container, m_dev, m_agreement); }

    size_t CommandCount(const std::string& prefix) {
        size_t n = 0;
        for (const std::string& line : TraceLines(m_token))
            n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    EccArguments m_args;
    ECCPUBLICKEYBLOB m_key{};
    HANDLE m_agreement = nullptr;
};

TEST_P(EccErrorsTest, MissingArgumentsAreRefusedBeforeAnyTraffic) {
    EccArguments& a = m_args;
    BYTE* d = a.digest.data();
    BYTE* id = a.id.data();
    ECCSIGNATUREBLOB sig{};
    ULONG len = 0;
    HANDLE h = nullptr;
    ECCCIPHERBLOB* out = a.OutCipher();
    const HCONTAINER c = m_container;
    const DEVHANDLE v = m_dev;
    const HANDLE g = m_agreement;
    const struct {
        const char* what;
        std::function<ULONG()> call;
    } cases[] = {
        {"gen: container", [&] { return SKF_GenECCKeyPair(nullptr, SGD_SM2_1, &a.outKey); }},
        {"gen: blob", [&] { return SKF_GenECCKeyPair(c, SGD_SM2_1, nullptr); }},
        {"import: container", [&] { return SKF_ImportECCKeyPair(nullptr, a.Envelope()); }},
        {"import: envelope", [&] { return SKF_ImportECCKeyPair(c, nullptr); }},
        {"sign: container", [&] { return SKF_ECCSignData(nullptr, d, 32, &sig); }},
        {"sign: data", [&] { return SKF_ECCSignData(c, nullptr, 32, &sig); }},
        {"sign: length", [&] { return SKF_ECCSignData(c, d, 0, &sig); }},
        {"sign: signature", [&] { return SKF_ECCSignData(c, d, 32, nullptr); }},
        {"verify: device", [&] { return SKF_ECCVerify(nullptr, &a.pub, d, 32, &sig); }},
        {"verify: key", [&] { return SKF_ECCVerify(v, nullptr, d, 32, &sig); }},
        {"verify: data", [&] { return SKF_ECCVerify(v, &a.pub, nullptr, 32, &sig); }},
        {"verify: length", [&] { return SKF_ECCVerify(v, &a.pub, d, 0, &sig); }},
        {"verify: signature", [&] { return SKF_ExtECCVerify(v, &a.pub, d, 32, nullptr); }},
        {"export session key: container", [&] { return SKF_ECCExportSessionKey(nullptr, 0x401, &a.pub, out, &h); }},
        {"export session key: key", [&] { return SKF_ECCExportSessionKey(c, 0x401, nullptr, out, &h); }},
        {"export session key: blob", [&] { return SKF_ECCExportSessionKey(c, 0x401, &a.pub, nullptr, &h); }},
        {"export session key: handle", [&] { return SKF_ECCExportSessionKey(c, 0x401, &a.pub, out, nullptr); }},
        {"encrypt: device", [&] { return SKF_ExtECCEncrypt(nullptr, &a.pub, d, 32, out); }},
        {"encrypt: key", [&] { return SKF_ExtECCEncrypt(v, nullptr, d, 32, out); }},
        {"encrypt: plain", [&] { return SKF_ExtECCEncrypt(v, &a.pub, nullptr, 32, out); }},
        {"encrypt: length", [&] { return SKF_ExtECCEncrypt(v, &a.pub, d, 0, out); }},
        {"encrypt: blob", [&] { return SKF_ExtECCEncrypt(v, &a.pub, d, 32, nullptr); }},
        {"decrypt: device", [&] { return SKF_ExtECCDecrypt(nullptr, &a.priv, a.cipher.get(), d, &len); }},
        {"decrypt: key", [&] { return SKF_ExtECCDecrypt(v, nullptr, a.cipher.get(), d, &len); }},
        {"decrypt: blob", [&] { return SKF_ExtECCDecrypt(v, &a.priv, nullptr, d, &len); }},
        {"decrypt: length", [&] { return SKF_ExtECCDecrypt(v, &a.priv, a.cipher.get(), d, nullptr); }},
        {"ext sign: device", [&] { return SKF_ExtECCSign(nullptr, &a.priv, d, 32, &sig); }},
        {"ext sign: key", [&] { return SKF_ExtECCSign(v, nullptr, d, 32, &sig); }},
        {"ext sign: data", [&] { return SKF_ExtECCSign(v, &a.priv, nullptr, 32, &sig); }},
        {"ext sign: length", [&] { return SKF_ExtECCSign(v, &a.priv, d, 0, &sig); }},
        {"ext sign: signature", [&] { return SKF_ExtECCSign(v, &a.priv, d, 32, nullptr); }},
        {"agreement: container",
         [&] { return SKF_GenerateAgreementDataWithECC(nullptr, 0x401, &a.outKey, id, 16, &h); }},
        {"agreement: temp", [&] { return SKF_GenerateAgreementDataWithECC(c, 0x401, nullptr, id, 16, &h); }},
        {"agreement: id", [&] { return SKF_GenerateAgreementDataWithECC(c, 0x401, &a.outKey, nullptr, 16, &h); }},
        {"agreement: id length", [&] { return SKF_GenerateAgreementDataWithECC(c, 0x401, &a.outKey, id, 0, &h); }},
        {"agreement: handle", [&] { return SKF_GenerateAgreementDataWithECC(c, 0x401, &a.outKey, id, 16, nullptr); }},
        {"respond: container",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(nullptr, 0x401, &a.pub, &a.temp, &a.outKey, id, 16, id, 8,
                                                           &h);
         }},
        {"respond: sponsor key",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, nullptr, &a.temp, &a.outKey, id, 16, id, 8, &h);
         }},
        {"respond: sponsor temp",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, nullptr, &a.outKey, id, 16, id, 8, &h);
         }},
        {"respond: temp",
         [&] { return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, &a.temp, nullptr, id, 16, id, 8, &h); }},
        {"respond: id",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, &a.temp, &a.outKey, nullptr, 16, id, 8,
                                                           &h);
         }},
        {"respond: id length",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, &a.temp, &a.outKey, id, 0, id, 8, &h);
         }},
        {"respond: sponsor id",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, &a.temp, &a.outKey, id, 16, nullptr, 8,
                                                           &h);
         }},
        {"respond: sponsor id length",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, &a.temp, &a.outKey, id, 16, id, 0, &h);
         }},
        {"respond: handle",
         [&] {
             return SKF_GenerateAgreementDataAndKeyWithECC(c, 0x401, &a.pub, &a.temp, &a.outKey, id, 16, id, 8,
                                                           nullptr);
         }},
        {"key: agreement", [&] { return SKF_GenerateKeyWithECC(nullptr, &a.pub, &a.temp, id, 16, &h); }},
        {"key: key", [&] { return SKF_GenerateKeyWithECC(g, nullptr, &a.temp, id, 16, &h); }},
        {"key: temp", [&] { return SKF_GenerateKeyWithECC(g, &a.pub, nullptr, id, 16, &h); }},
        {"key: id", [&] { return SKF_GenerateKeyWithECC(g, &a.pub, &a.temp, nullptr, 16, &h); }},
        {"key: id length", [&] { return SKF_GenerateKeyWithECC(g, &a.pub, &a.temp, id, 0, &h); }},
        {"key: handle", [&] { return SKF_GenerateKeyWithECC(g, &a.pub, &a.temp, id, 16, nullptr); }},
        {"export: container", [&] { return SKF_ExportPublicKey(nullptr, TRUE, nullptr, &len); }},
        {"export: length", [&] { return SKF_ExportPublicKey(c, TRUE, nullptr, nullptr); }},
    };
    TraceLines(m_token, true);
    for (const auto& refused : cases) {
        EXPECT_EQ(refused.call(), SAR_INVALIDPARAMERR) << refused.what;
        EXPECT_EQ(h, nullptr) << refused.what;
    }
    EXPECT_TRUE(TraceLines(m_token).empty()) << "nothing was sent";
}

// Values never issued, and handles already closed, are refused without being dereferenced.
TEST_P(EccErrorsTest, ForeignAndClosedHandles) {
    HCONTAINER closed = nullptr;
    ASSERT_EQ(SKF_OpenContainer(m_app, Text("sm2"), &closed), SAR_OK);
    ASSERT_EQ(SKF_CloseHandle(closed), SAR_OK);
    const HANDLE foreign = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
    int stack = 0;
    for (const Call& call : Calls()) {
        for (HANDLE bad : {foreign, closed, static_cast<HANDLE>(&stack)}) {
            m_args.ResetOutputs();
            EXPECT_EQ(call.run(bad, bad, bad), SAR_INVALIDHANDLEERR) << call.name;
            EXPECT_TRUE(m_args.OutputsUntouched()) << call.name;
        }
    }
}

TEST_P(EccErrorsTest, DeviceGoneIsAnInvalidHandle) {
    Unplug();
    for (const Call& call : Calls()) {
        m_args.ResetOutputs();
        EXPECT_EQ(Run(call), SAR_INVALIDHANDLEERR) << call.name;
        EXPECT_TRUE(m_args.OutputsUntouched()) << call.name;
    }
}

// Each function's own translation of the token's refusals; outputs stay untouched and no handle is
// made.
TEST_P(EccErrorsTest, StatusTables) {
    const struct {
        const char* call;
        uint16_t status;
        ULONG expected;
    } cases[] = {
        {"GenECCKeyPair", 0x6581, SAR_DEVICE_REMOVED},
        {"GenECCKeyPair", 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"GenECCKeyPair", 0x6A81, SAR_NOTSUPPORTYETERR},
        {"GenECCKeyPair", 0x6A84, SAR_NO_ROOM},
        {"GenECCKeyPair", 0x6A88, SAR_OBJERR},
        {"GenECCKeyPair", 0x6A95, SAR_OBJERR},
        {"GenECCKeyPair", 0x6A80, SAR_FAIL},
        {"ImportECCKeyPair", 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"ImportECCKeyPair", 0x6A84, SAR_NO_ROOM},
        {"ImportECCKeyPair", 0x6A88, SAR_OBJERR},
        {"ImportECCKeyPair", 0x6581, SAR_FAIL},
        {"ImportECCKeyPair", 0x6A95, SAR_FAIL},
        {"ECCSignData", 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"ECCSignData", 0x6A88, SAR_OBJERR},
        {"ECCSignData", 0x0150, SAR_BUFFER_TOO_SMALL},
        {"ECCSignData", 0x6A84, SAR_FAIL},
        {"ECCSignData", 0x6581, SAR_FAIL},
        {"ECCExportSessionKey", 0x6581, SAR_DEVICE_REMOVED},
        {"ECCExportSessionKey", 0x6982, SAR_USER_NOT_LOGGED_IN},
        {"ECCExportSessionKey", 0x6A81, SAR_NOTSUPPORTYETERR},
        {"ECCExportSessionKey", 0x6A84, SAR_NO_ROOM},
        {"ECCExportSessionKey", 0x6A95, SAR_OBJERR},
        {"ECCExportSessionKey", 0x6A8C, SAR_FAIL},
        {"ECCVerify", 0x6982, SAR_FAIL},
        {"ExtECCVerify", 0x6A80, SAR_FAIL},
        {"ExtECCSign", 0x6982, SAR_FAIL},
        {"ExtECCDecrypt", 0x6A88, SAR_FAIL},
        {"ExtECCEncrypt", 0x6982, SAR_INDATAERR},
        {"ExtECCEncrypt", 0x6A88, SAR_INDATAERR},
        {"GenerateAgreementDataWithECC", 0x6982, SAR_FAIL},
        {"GenerateAgreementDataWithECC", 0x6A84, SAR_FAIL},
        {"GenerateAgreementDataAndKeyWithECC", 0x6A88, SAR_FAIL},
        {"GenerateKeyWithECC", 0x6982, SAR_FAIL},
        {"ExportPublicKey", 0x6A88, SAR_OBJERR},
        {"ExportPublicKey", 0x6982, SAR_OBJERR},
        {"ExportPublicKey", 0x698A, SAR_OBJERR},
    };
    const std::vector<Call> calls = Calls();
    for (const auto& c : cases) {
        const Call& call = CallNamed(calls, c.call);
        m_args.ResetOutputs();
        ForceStatus(call.ins, c.status);
        EXPECT_EQ(Run(call), c.expected) << c.call << " answered " << std::hex << c.status;
        EXPECT_TRUE(m_args.OutputsUntouched()) << c.call << " answered " << std::hex << c.status;
    }
}

// The container functions and the agreement's key recover a token moved to another container or
// application: one re-open (after a re-selection for 0x698A) and the second attempt succeeds; two
// recoveries in a row give up.
TEST_P(EccErrorsTest, ReselectLoopOfTheContainerFunctions) {
    const std::vector<Call> calls = Calls();
    for (const char* name : {"GenECCKeyPair", "ECCSignData", "ECCExportSessionKey", "GenerateAgreementDataWithECC",
                             "GenerateAgreementDataAndKeyWithECC", "GenerateKeyWithECC"}) {
        const Call& call = CallNamed(calls, name);
        for (uint16_t status : {0x698A, 0x6A94}) {
            m_args.ResetOutputs();
            TraceLines(m_token, true);
            ForceStatus(call.ins, status);
            EXPECT_EQ(Run(call), SAR_OK) << name << " " << std::hex << status;
            EXPECT_EQ(CommandCount("> 8026"), status == 0x698A ? 1u : 0u) << name << " re-selections";
            EXPECT_EQ(CommandCount("> 8042"), 1u) << name << " re-openings";
        }
        m_args.ResetOutputs();
        ForceStatus(call.ins, 0x6A94);
        ForceStatus(call.ins, 0x698A);
        EXPECT_EQ(Run(call), SAR_FAIL) << name;
        EXPECT_TRUE(m_args.OutputsUntouched()) << name;
        Fault(m_token, {"clear"});
    }
    // The recovery itself fails.
    const Call& gen = CallNamed(calls, "GenECCKeyPair");
    ForceStatus(gen.ins, 0x698A);
    ForceStatus(ins::kOpenApplication, 0x6A8B);
    EXPECT_EQ(Run(gen), SAR_APPLICATION_NOT_EXISTS);
    ForceStatus(gen.ins, 0x6A94);
    ForceStatus(ins::kOpenContainer, 0x6A88);
    EXPECT_EQ(Run(gen), SAR_FILE_NOT_EXIST);
    const Call& import = CallNamed(calls, "ImportECCKeyPair");
    ForceStatus(import.ins, 0x6A94);
    ForceStatus(import.ins, 0x6A94);
    EXPECT_EQ(Run(import), SAR_FAIL);
    Fault(m_token, {"clear"});
}

// The public-key export recovers only a closed container.
TEST_P(EccErrorsTest, PublicKeyExportReopensOnlyAClosedContainer) {
    const std::vector<Call> calls = Calls();
    const Call& call = CallNamed(calls, "ExportPublicKey");
    TraceLines(m_token, true);
    ForceStatus(call.ins, 0x6A94);
    EXPECT_EQ(Run(call), SAR_OK);
    EXPECT_EQ(std::memcmp(&m_args.outKey, &m_key, sizeof m_key), 0);
    EXPECT_EQ(CommandCount("> 8042"), 1u);
    ForceStatus(call.ins, 0x6A94);
    ForceStatus(call.ins, 0x6A94);
    EXPECT_EQ(Run(call), SAR_FAIL);
    Fault(m_token, {"clear"});
    TraceLines(m_token, true);
    ForceStatus(call.ins, 0x698A);
    EXPECT_EQ(Run(call), SAR_OBJERR);
    EXPECT_EQ(CommandCount("> 8026"), 0u) << "no re-selection";
}

INSTANTIATE_TEST_SUITE_P(Transports, EccErrorsTest, ::testing::Values("bot", "hid"));

} // namespace
} // namespace keycore::test
