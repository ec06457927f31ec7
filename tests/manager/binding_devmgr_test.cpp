// The device manager: where it loads the library from, what its operations do without one, its call
// sequences against virtual tokens, and its readers of the library's answers (device lists, certificates).

#include "dev_mgr.h"
#include "keydesk_fixture.h"

#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <string>

namespace {

using keydesk::test::BuildPath;
using keydesk::test::Bytes;
using keydesk::test::ContainerSpec;
using keydesk::test::KeydeskTest;

constexpr char kInstalledLib[] = "/opt/apps/com.tolvik.orvex5100gm-g/files/lib";

char* Text(std::string& text) {
    return text.data();
}

bool LibraryInProcess(const std::string& path) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (lib != nullptr)
        dlclose(lib);
    return lib != nullptr;
}

// Every test below starts in a process of its own, so cDevMgr starts unloaded in each.

TEST(DevMgrLoading, WithoutInstalledLibraryTheOneBesideTheExecutableIsLoaded) {
    const std::string beside = BuildPath("bin/libkeycore.so");
    ASSERT_FALSE(LibraryInProcess(beside));
    testing::internal::CaptureStderr();
    ASSERT_EQ(cDevMgr::getInst()->Initialize(), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("/opt/apps/com.tolvik.orvex5100gm-g/files/lib/libkeycore.so"), std::string::npos)
        << "the installed path is tried first: " << err;
    EXPECT_TRUE(cDevMgr::getInst()->IsLoaded());
    EXPECT_TRUE(LibraryInProcess(beside));
    // A second call keeps the loaded library.
    EXPECT_EQ(cDevMgr::getInst()->Initialize(), 0);
}

TEST(DevMgrLoading, TheInstalledLibraryComesFirst) {
    ASSERT_TRUE(keydesk::test::MountEmpty("/opt")) << "needs the test's own mount namespace";
    ASSERT_EQ(vtoken::test::RunShell("mkdir -p " + std::string(kInstalledLib) + " && cp '" + KEYDESK_FAKE_SKF_PATH +
                                     "' " + kInstalledLib + "/libkeycore.so")
                  .exitCode,
              0);
    ASSERT_EQ(cDevMgr::getInst()->Initialize(), 0);
    EXPECT_EQ(cDevMgr::getInst()->skf()->SKF_CancelWaitForDevEvent(), 0xCA0C0001u) << "the stand-in was loaded";
    EXPECT_FALSE(LibraryInProcess(BuildPath("bin/libkeycore.so")));
}

TEST(DevMgrLoading, NoLibraryAtEitherPathLeavesEveryOperationFailing) {
    // bin/ (with libkeycore.so beside this program) disappears for this test only.
    ASSERT_TRUE(keydesk::test::HideDirectory(BuildPath("bin"))) << "needs the test's own mount namespace";
    cDevMgr* mgr = cDevMgr::getInst();
    testing::internal::CaptureStderr();
    EXPECT_EQ(mgr->Initialize(), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(mgr->IsLoaded());
    EXPECT_EQ(mgr->skf(), nullptr);

    std::string name = "token";
    char buf[64] = {};
    unsigned len = sizeof buf, a = 0, b = 0;
    int flag = 0;
    Struct_DEVINFO info{};
    Struct_ContainerInfo ctn;
    ctn.ulContainerType = 9;
    const ULONG kFail = 0xFFFFFFFFu;
    EXPECT_EQ(mgr->WaitForDevEvent(buf, &len, &a), kFail);
    EXPECT_EQ(mgr->ConnectDev(Text(name)), kFail);
    EXPECT_EQ(mgr->getDevInfo(Text(name), &info), kFail);
    EXPECT_EQ(mgr->EnumDev(1, buf, &len), kFail);
    EXPECT_EQ(mgr->EnumApplication(buf, &len), kFail);
    EXPECT_EQ(mgr->OpenApplication(Text(name)), kFail);
    EXPECT_EQ(mgr->EnumContainer(buf, &len), kFail);
    EXPECT_EQ(mgr->OpenContainer(Text(name)), kFail);
    EXPECT_EQ(mgr->GetContainerInfo(&ctn), kFail);
    EXPECT_EQ(ctn.ulContainerType, 9u);
    EXPECT_EQ(mgr->DeleteContainer(Text(name)), kFail);
    EXPECT_EQ(mgr->ExportCertificate(1, nullptr, &len), kFail);
    EXPECT_EQ(mgr->ExportPublicKey(1, nullptr, &len), kFail);
    EXPECT_EQ(mgr->GetPINInfo(1, &a, &b, &flag), kFail);
    EXPECT_EQ(mgr->SetDevLabel(Text(name), 5), kFail);
    EXPECT_EQ(mgr->VerifyPIN(1, Text(name), &a), kFail);
    EXPECT_EQ(mgr->ChangePIN(1, Text(name), Text(name), &a), kFail);
    EXPECT_EQ(mgr->UnblockPIN(Text(name), Text(name), &a), kFail);
    EXPECT_EQ(mgr->getCertName(1, buf), -1);
    // Missing arguments are refused before the library is needed.
    EXPECT_EQ(mgr->ConnectDev(nullptr), static_cast<ULONG>(SAR_INVALIDPARAMERR));
    EXPECT_EQ(mgr->SetDevLabel(nullptr, 0), static_cast<ULONG>(SAR_INVALIDPARAMERR));
    EXPECT_EQ(mgr->getDevInfo(nullptr, &info), static_cast<ULONG>(SAR_INVALIDPARAMERR));
}

TEST(DevMgrState, DeviceNameIsCutToStayTerminatedAndEventIsKept) {
    cDevMgr* mgr = cDevMgr::getInst();
    const std::string longName(100, 'n');
    EXPECT_EQ(mgr->SetDevName(longName.c_str()), 0);
    EXPECT_EQ(std::string(mgr->GetDevName()), std::string(63, 'n'));
    EXPECT_EQ(mgr->SetDevName("short"), 0);
    EXPECT_STREQ(mgr->GetDevName(), "short") << "the whole buffer is cleared first";
    EXPECT_EQ(mgr->SetEvent(2), 0);
    EXPECT_EQ(mgr->GetEvent(), 2u);
}

// Answers of a library that break the rules (tests/manager/fake_skf_library.cpp).
TEST(DevMgrAnswers, UnterminatedDeviceListAndOverlongLengthsAreReadInsideTheBuffer) {
    cDevMgr* mgr = cDevMgr::getInst();
    ASSERT_EQ(mgr->InitializeFrom(KEYDESK_FAKE_SKF_PATH), 0);
    Struct_DEVINFO info{};
    std::string eightA(8, 'A');
    EXPECT_EQ(mgr->getDevInfo(Text(eightA), &info), 0xD1F00000u) << "the list's one name is found";
    std::string other = "B";
    EXPECT_EQ(mgr->getDevInfo(Text(other), &info), static_cast<ULONG>(SAR_INVALIDPARAMERR));
    std::string shorter = "AAAA";
    EXPECT_EQ(mgr->getDevInfo(Text(shorter), &info), static_cast<ULONG>(SAR_INVALIDPARAMERR))
        << "a name shorter than the listed one does not match it";
    std::string empty;
    EXPECT_EQ(mgr->getDevInfo(Text(empty), &info), static_cast<ULONG>(SAR_INVALIDPARAMERR));

    char name[cDevMgr::kCertNameSize];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(mgr->getCertName(1, name), -1) << "a second answer longer than the buffer";
    EXPECT_EQ(mgr->getCertName(0, name), -1) << "bytes that are no certificate";
    EXPECT_EQ(mgr->getCertName(0x100, name), -1) << "only the low 8 bits give the usage: 0x100 is encryption";
    EXPECT_EQ(name[0], 'x') << "nothing written on failure";
}

// Common names as the certificate page shows them.
TEST(DevMgrAnswers, LastCommonNameWinsAndLongNamesAreCut) {
    struct Case {
        const char* what;
        std::vector<std::string> commonNames;
        std::string expected;
    };
    const Case cases[] = {
        {"one name", {"Holder"}, "Holder"},
        {"the last of two", {"First Name", "Second"}, "Second"},
        {"none: the buffer keeps what it had", {}, "previous"},
        {"longer than the field", {std::string(200, 'c')}, std::string(cDevMgr::kCertNameSize - 1, 'c')},
        {"UTF-8", {"证书持有人"}, "证书持有人"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> subject(X509_NAME_new(), X509_NAME_free);
        X509_NAME_add_entry_by_txt(subject.get(), "O", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Organisation"), -1, -1, 0);
        for (const std::string& cn : c.commonNames)
            // Stored as given (no length limit applied), as a certificate from elsewhere may carry it.
            X509_NAME_add_entry_by_NID(subject.get(), NID_commonName, V_ASN1_UTF8STRING,
                                       reinterpret_cast<const unsigned char*>(cn.c_str()), static_cast<int>(cn.size()),
                                       -1, 0);
        struct {
            char name[cDevMgr::kCertNameSize];
            char guard[16];
        } out;
        std::memset(&out, 0, sizeof out);
        std::strcpy(out.name, "previous");
        std::memset(out.guard, 'G', sizeof out.guard);
        EXPECT_EQ(cDevMgr::getX509Name(subject.get(), out.name), 1);
        EXPECT_EQ(std::string(out.name), c.expected);
        EXPECT_EQ(std::string(out.guard, sizeof out.guard), std::string(16, 'G'));
    }
    char dst[8] = {};
    EXPECT_EQ(cDevMgr::getX509Name(nullptr, dst), 0);
}

// The call sequences the pages use, against a virtual token.
class DevMgrTokenTest : public KeydeskTest {
protected:
    void SetUp() override {
        KeydeskTest::SetUp();
        if (HasFatalFailure())
            return;
        m_token = PlugToken();
        const std::vector<std::string> names = PresentDevices();
        ASSERT_EQ(names.size(), 1u);
        m_name = names.front();
    }

    vtoken::test::PluggedToken m_token;
    std::string m_name;
};

TEST_F(DevMgrTokenTest, DeviceInformationOfAPresentTokenAndRefusalOfOthers) {
    cDevMgr* mgr = cDevMgr::getInst();
    Struct_DEVINFO info{};
    ASSERT_EQ(mgr->getDevInfo(Text(m_name), &info), SAR_OK);
    EXPECT_EQ(std::string(info.SerialNumber, strnlen(info.SerialNumber, sizeof info.SerialNumber)), m_token.serial);

    std::string absent = "no such token";
    EXPECT_EQ(mgr->getDevInfo(Text(absent), &info), static_cast<ULONG>(SAR_INVALIDPARAMERR));
    std::string prefix = m_name.substr(0, m_name.size() / 2);
    EXPECT_EQ(mgr->getDevInfo(Text(prefix), &info), static_cast<ULONG>(SAR_INVALIDPARAMERR));

    Unplug(m_token);
    EXPECT_EQ(mgr->getDevInfo(Text(m_name), &info), static_cast<ULONG>(SAR_INVALIDPARAMERR))
        << "a token no longer present";
}

TEST_F(DevMgrTokenTest, ApplicationPinAndContainerSequences) {
    const Bytes cert = keydesk::test::MakeCertificate("Sequence Holder");
    ContainerSpec spec;
    spec.name = "sm2-ctn";
    spec.signKey = ContainerSpec::Key::Sm2;
    spec.signCertificate = cert;
    AddContainer(m_name, spec);

    cDevMgr* mgr = cDevMgr::getInst();
    ASSERT_EQ(mgr->ConnectDev(Text(m_name)), SAR_OK);
    char list[256] = {};
    unsigned len = sizeof list;
    ASSERT_EQ(mgr->EnumApplication(list, &len), SAR_OK);
    std::string app = list;
    EXPECT_EQ(app, keydesk::test::kDefaultApp);
    ASSERT_EQ(mgr->OpenApplication(Text(app)), SAR_OK);

    unsigned maxRetry = 0, remain = 0;
    int isDefault = 0;
    ASSERT_EQ(mgr->GetPINInfo(USER_TYPE, &maxRetry, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(remain, maxRetry);
    std::string wrong = "87654321";
    unsigned retry = 0;
    EXPECT_EQ(mgr->VerifyPIN(USER_TYPE, Text(wrong), &retry), static_cast<ULONG>(SAR_PIN_INCORRECT));
    EXPECT_EQ(retry, maxRetry - 1);
    std::string right = keydesk::test::kUserPin;
    EXPECT_EQ(mgr->VerifyPIN(USER_TYPE, Text(right), &retry), SAR_OK);

    len = sizeof list;
    std::memset(list, 0, sizeof list);
    ASSERT_EQ(mgr->EnumContainer(list, &len), SAR_OK);
    std::string ctn = list;
    ASSERT_EQ(ctn, "sm2-ctn");
    ASSERT_EQ(mgr->OpenContainer(Text(ctn)), SAR_OK);
    Struct_ContainerInfo info;
    ASSERT_EQ(mgr->GetContainerInfo(&info), SAR_OK);
    EXPECT_EQ(info.ulContainerType, kContainerEcc);

    unsigned certLen = 0;
    ASSERT_EQ(mgr->ExportCertificate(1, nullptr, &certLen), SAR_OK);
    Bytes exported(certLen);
    ASSERT_EQ(mgr->ExportCertificate(1, exported.data(), &certLen), SAR_OK);
    EXPECT_EQ(exported, cert);
    char name[cDevMgr::kCertNameSize] = {};
    EXPECT_EQ(mgr->getCertName(1, name), 0);
    EXPECT_STREQ(name, "Sequence Holder");
    EXPECT_EQ(mgr->getCertName(0, name), -1) << "no encryption certificate";

    ECCPUBLICKEYBLOB blob{};
    unsigned blobLen = sizeof blob;
    ASSERT_EQ(mgr->ExportPublicKey(1, reinterpret_cast<unsigned char*>(&blob), &blobLen), SAR_OK);
    EXPECT_EQ(blob.BitLen, 256u);

    // ConnectDev forgets the application and container handles: their operations fail until reopened.
    ASSERT_EQ(mgr->ConnectDev(Text(m_name)), SAR_OK);
    len = sizeof list;
    EXPECT_NE(mgr->EnumContainer(list, &len), SAR_OK);
    EXPECT_NE(mgr->GetContainerInfo(&info), SAR_OK);

    ASSERT_EQ(mgr->OpenApplication(Text(app)), SAR_OK);
    EXPECT_EQ(mgr->VerifyPIN(USER_TYPE, Text(right), &retry), SAR_OK);
    EXPECT_EQ(mgr->DeleteContainer(Text(ctn)), SAR_OK);
    len = sizeof list;
    std::memset(list, 0, sizeof list);
    ASSERT_EQ(mgr->EnumContainer(list, &len), SAR_OK);
    EXPECT_STREQ(list, "") << "the container is gone";
}

TEST_F(DevMgrTokenTest, LabelPinChangeAndUnblockSequences) {
    cDevMgr* mgr = cDevMgr::getInst();
    std::string app = keydesk::test::kDefaultApp;
    Struct_DEVINFO info{};
    ASSERT_EQ(mgr->getDevInfo(Text(m_name), &info), SAR_OK);
    ASSERT_EQ(mgr->OpenApplication(Text(app)), SAR_OK);

    std::string pin = keydesk::test::kUserPin;
    std::string newPin = "11223344";
    unsigned retry = 0;
    ASSERT_EQ(mgr->VerifyPIN(USER_TYPE, Text(pin), &retry), SAR_OK);
    std::string label = "renamed";
    EXPECT_EQ(mgr->SetDevLabel(Text(label), 3), SAR_OK) << "the length argument is not used";
    ASSERT_EQ(mgr->getDevInfo(Text(m_name), &info), SAR_OK);
    EXPECT_STREQ(std::string(info.Label, strnlen(info.Label, sizeof info.Label)).c_str(), "renamed");

    ASSERT_EQ(mgr->OpenApplication(Text(app)), SAR_OK);
    EXPECT_EQ(mgr->ChangePIN(USER_TYPE, Text(pin), Text(newPin), &retry), SAR_OK);
    // Lock the user PIN, then unblock it with the SO PIN.
    std::string wrong = "00000000";
    unsigned maxRetry = 0, remain = 0;
    int isDefault = 0;
    ASSERT_EQ(mgr->GetPINInfo(USER_TYPE, &maxRetry, &remain, &isDefault), SAR_OK);
    EXPECT_EQ(isDefault, 0) << "changed";
    for (unsigned i = 0; i < maxRetry; ++i)
        mgr->VerifyPIN(USER_TYPE, Text(wrong), &retry);
    EXPECT_EQ(mgr->VerifyPIN(USER_TYPE, Text(newPin), &retry), static_cast<ULONG>(SAR_PIN_LOCKED));
    std::string so = keydesk::test::kSoPin;
    EXPECT_EQ(mgr->UnblockPIN(Text(so), Text(pin), &retry), SAR_OK);
    EXPECT_EQ(mgr->VerifyPIN(USER_TYPE, Text(pin), &retry), SAR_OK);
}

} // namespace
