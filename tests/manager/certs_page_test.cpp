// The certificate page over containers made through SKF: the tree with its key folders, certificates and
// keys for RSA, SM2 and empty containers; which buttons a selection enables; export of the exact DER
// bytes, view through the viewer with a private copy, and deletion of a container.
#include "pages_test_support.h"

#include "manager/export_file_dialog.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace keydesk::test {
namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// PKCS #1 RSAPrivateKey: the certificate import takes it as a key pair.
Bytes MakeRsaKey(unsigned bits) {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)), EVP_PKEY_free);
    const int len = i2d_PrivateKey(key.get(), nullptr);
    Bytes der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    i2d_PrivateKey(key.get(), &p);
    return der;
}

// 0x04 ‖ X ‖ Y ‖ d of an SM2 key: the certificate import takes it as a key pair.
Bytes MakeSm2Pair() {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "SM2"), EVP_PKEY_free);
    Bytes pair(97);
    size_t pubLen = 0;
    EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, pair.data(), 65, &pubLen);
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d);
    BN_bn2binpad(d, pair.data() + 65, 32);
    BN_clear_free(d);
    return pair;
}

constexpr BOOL kSign = 1;
constexpr BOOL kEncrypt = 0;

class CertsPageTest : public PagesTest {
protected:
    void SetUp() override {
        PagesTest::SetUp();
        m_name = DeviceNameOf(Plug());
        // Containers are made before the window starts, on a session of the test's own.
        m_session = OpenDefaultApplication(m_name);
        ULONG retry = 0;
        ASSERT_EQ(Op()->SKF_VerifyPIN(m_session.app, 1, Text("12345678"), &retry), SAR_OK);

        m_signCert = MakeCertificate("Sign Holder");
        m_encCert = MakeCertificate("加密证书");
        m_rsaEncCert = MakeCertificate("Enc Holder");
        m_anonymous = MakeCertificate("");

        Import("rsa2048", kSign, MakeRsaKey(2048));
        Import("rsa2048", kSign, m_signCert);
        Import("sm2", kEncrypt, MakeSm2Pair());
        Import("sm2", kEncrypt, m_encCert);
        Import("rsa1024-keys", kSign, MakeRsaKey(1024));
        Import("mixed", kEncrypt, MakeRsaKey(1024));
        Import("mixed", kEncrypt, m_rsaEncCert);
        Import("mixed", kSign, MakeRsaKey(1024));
        Import("two-keys", kEncrypt, MakeRsaKey(1024));
        Import("two-keys", kSign, MakeRsaKey(1024));
        Import("sm2-keys", kSign, MakeSm2Pair());
        Import("certs-only", kSign, m_anonymous);
        Import("certs-only", kEncrypt, m_anonymous);
        CreateContainer("empty");
        Op()->SKF_ClearSecureState(m_session.app);

        StartWindow();
        ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
        ClickApplication(m_name);
        ASSERT_EQ(Form()->tabWidget->currentIndex(), 2);
    }

    void TearDown() override {
        setExportFileAsker(nullptr);
        PagesTest::TearDown();
    }

    HCONTAINER CreateContainer(const char* name) {
        HCONTAINER container = nullptr;
        if (Op()->SKF_OpenContainer(m_session.app, Text(name), &container) != SAR_OK) {
            EXPECT_EQ(Op()->SKF_CreateContainer(m_session.app, Text(name), &container), SAR_OK) << name;
        }
        return container;
    }

    void Import(const char* container, BOOL sign, Bytes bytes) {
        HCONTAINER handle = CreateContainer(container);
        ASSERT_EQ(Op()->SKF_ImportCertificate(handle, sign, bytes.data(), static_cast<ULONG>(bytes.size())), SAR_OK)
            << container;
    }

    // The lines below one container node.
    std::vector<std::string> ContainerLines(const std::string& container) {
        const std::vector<std::string> all = TreeLines(Form()->treeView);
        const std::string top = container + "(container)";
        std::vector<std::string> lines;
        bool inside = false;
        for (const std::string& line : all) {
            if (line.rfind("  ", 0) != 0)
                inside = line == top;
            else if (inside)
                lines.push_back(line);
        }
        return lines;
    }

    QModelIndex Node(const std::vector<std::string>& path) { return FindNode(Form()->treeView, path); }
    void ClickCtnNode(const std::vector<std::string>& path) { ClickNode(Form()->treeView, Node(path)); }

    void VerifyInWindow() {
        Form()->tabWidget->setCurrentIndex(1);
        QTest::mouseClick(Form()->btn_VerifyPIN, Qt::LeftButton);
        Form()->VerifyPIN_Edit->setText(QStringLiteral("12345678"));
        QTest::mouseClick(Form()->btn_VerifyPIN_OK, Qt::LeftButton);
        ASSERT_EQ(TakeMessage().text, "Successfully verify the RAV-Iruzaz password");
        Form()->tabWidget->setCurrentIndex(2);
    }

    std::vector<std::string> ContainerNames() {
        char list[2048] = {};
        ULONG len = sizeof list;
        EXPECT_EQ(Op()->SKF_EnumContainer(m_session.app, list, &len), SAR_OK);
        std::vector<std::string> names;
        for (const char* p = list; *p != '\0' && p < list + len; p += std::strlen(p) + 1)
            names.emplace_back(p);
        return names;
    }

    static std::string ReadAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<unreadable>");
    }
    static std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

    std::string m_name;
    SkfSession m_session;
    Bytes m_signCert, m_encCert, m_rsaEncCert, m_anonymous;
};

using Lines = std::vector<std::string>;

TEST_F(CertsPageTest, TreeShowsFoldersCertificatesAndKeysPerContainer) {
    EXPECT_EQ(ContainerLines("rsa2048"),
              (Lines{"  Sign(RSA2048)", "    Sign Holder", "    Public key", "    Private key"}));
    EXPECT_EQ(ContainerLines("sm2"),
              (Lines{"  Encrypt&Decrypt(ECC256)", "    加密证书", "    Public key", "    Private key"}));
    EXPECT_EQ(ContainerLines("rsa1024-keys"), (Lines{"  Sign(RSA1024)", "    Public key", "    Private key"}));
    // Usages with a certificate come first, whatever their kind.
    EXPECT_EQ(ContainerLines("mixed"),
              (Lines{"  Encrypt&Decrypt(RSA1024)", "    Enc Holder", "    Public key", "    Private key",
                     "  Sign(RSA1024)", "    Public key", "    Private key"}));
    EXPECT_EQ(ContainerLines("sm2-keys"), (Lines{"  Sign(ECC256)", "    Public key", "    Private key"}));
    // Key pairs without certificates: signing first.
    EXPECT_EQ(ContainerLines("two-keys"), (Lines{"  Sign(RSA1024)", "    Public key", "    Private key",
                                                 "  Encrypt&Decrypt(RSA1024)", "    Public key", "    Private key"}));
    // Certificates without a key pair (and without a common name): plain folders, a generic text.
    EXPECT_EQ(ContainerLines("certs-only"),
              (Lines{"  Sign", "    Certificate", "  Encrypt&Decrypt", "    Certificate"}));
    EXPECT_EQ(ContainerLines("empty"), Lines{});
    EXPECT_NE(Node({"empty(container)"}), QModelIndex());
}

TEST_F(CertsPageTest, SelectionEnablesButtonsOnlyAfterVerification) {
    ClickCtnNode({"rsa2048(container)", "Sign(RSA2048)", "Sign Holder"});
    EXPECT_FALSE(Enabled(Form()->btn_ExpCert));
    EXPECT_FALSE(Enabled(Form()->btn_ViewCert));
    EXPECT_FALSE(Enabled(Form()->btn_DelCtn));

    VerifyInWindow();
    struct Case {
        std::vector<std::string> path;
        bool exportView;
        bool del;
    };
    const Case cases[] = {
        {{"rsa2048(container)", "Sign(RSA2048)", "Public key"}, false, false},
        {{"rsa2048(container)"}, false, true},
        {{"sm2(container)", "Encrypt&Decrypt(ECC256)", "加密证书"}, true, false},
        {{"rsa2048(container)", "Sign(RSA2048)", "Private key"}, false, false},
        {{"certs-only(container)", "Sign", "Certificate"}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.back());
        ClickCtnNode(c.path);
        EXPECT_EQ(Enabled(Form()->btn_ExpCert), c.exportView);
        EXPECT_EQ(Enabled(Form()->btn_ViewCert), c.exportView);
        EXPECT_EQ(Enabled(Form()->btn_DelCtn), c.del);
    }
    // A folder keeps the state of the last selection, whichever it was.
    ClickCtnNode({"sm2(container)", "Encrypt&Decrypt(ECC256)"});
    EXPECT_TRUE(Enabled(Form()->btn_ExpCert));
    EXPECT_FALSE(Enabled(Form()->btn_DelCtn));
    ClickCtnNode({"sm2(container)"});
    ClickCtnNode({"sm2(container)", "Encrypt&Decrypt(ECC256)"});
    EXPECT_FALSE(Enabled(Form()->btn_ExpCert));
    EXPECT_TRUE(Enabled(Form()->btn_DelCtn));
}

TEST_F(CertsPageTest, ExportWritesExactlyTheCertificateBytes) {
    VerifyInWindow();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        std::vector<std::string> path;
        const Bytes* der;
    };
    const Case cases[] = {
        {{"sm2(container)", "Encrypt&Decrypt(ECC256)", "加密证书"}, &m_encCert},
        {{"rsa2048(container)", "Sign(RSA2048)", "Sign Holder"}, &m_signCert},
        {{"mixed(container)", "Encrypt&Decrypt(RSA1024)", "Enc Holder"}, &m_rsaEncCert},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.front());
        const QString target = dir.filePath(QStringLiteral("out%1.cer").arg(n++));
        // A longer file already there is truncated, not partly overwritten.
        {
            QFile old(target);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(4096, 'x'));
        }
        QString caption;
        QString proposed;
        setExportFileAsker([&](QWidget*, const QString& cap, const QString& name) {
            caption = cap;
            proposed = name;
            return target;
        });
        ClickCtnNode(c.path);
        QTest::mouseClick(Form()->btn_ExpCert, Qt::LeftButton);
        const ShownMessage shown = TakeMessage();
        EXPECT_EQ(shown.text, "export cert success.");
        EXPECT_EQ(shown.title, "Export Certificate");
        EXPECT_EQ(caption.toStdString(), "Export Certificate");
        EXPECT_EQ(proposed.toStdString(), "tolvik.cer");
        EXPECT_EQ(ReadAll(target), AsString(*c.der));
    }
}

TEST_F(CertsPageTest, ExportCancelledOrUnwritable) {
    VerifyInWindow();
    ClickCtnNode({"rsa2048(container)", "Sign(RSA2048)", "Sign Holder"});

    setExportFileAsker([](QWidget*, const QString&, const QString&) { return QString(); });
    QTest::mouseClick(Form()->btn_ExpCert, Qt::LeftButton);
    EXPECT_TRUE(m_messages.empty());

    setExportFileAsker(
        [](QWidget*, const QString&, const QString&) { return QStringLiteral("/nonexistent-dir/out.cer"); });
    QTest::mouseClick(Form()->btn_ExpCert, Qt::LeftButton);
    EXPECT_EQ(TakeMessage().text, "export cert failed.");

    // A key node exports nothing and asks for no file.
    bool asked = false;
    setExportFileAsker([&asked](QWidget*, const QString&, const QString&) {
        asked = true;
        return QStringLiteral("/tmp/never.cer");
    });
    Form()->treeView->setCurrentIndex(Node({"rsa2048(container)", "Sign(RSA2048)", "Public key"}));
    Window()->btn_exportCert();
    EXPECT_FALSE(asked);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(CertsPageTest, ViewStartsTheViewerWithAPrivateCopy) {
    VerifyInWindow();
    struct Case {
        std::vector<std::string> path;
        const Bytes* der;
    };
    const Case cases[] = {
        {{"sm2(container)", "Encrypt&Decrypt(ECC256)", "加密证书"}, &m_encCert},
        {{"rsa2048(container)", "Sign(RSA2048)", "Sign Holder"}, &m_signCert},
        // A folder node that is not an encryption folder shows the container's signing certificate.
        {{"rsa2048(container)", "Sign(RSA2048)"}, &m_signCert},
        {{"rsa2048(container)"}, &m_signCert},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.back());
        ClearViewerCalls();
        ClickCtnNode(c.path);
        Window()->btn_viewCert();
        ASSERT_TRUE(WaitForViewerCalls(1));
        const std::vector<std::string> args = ViewerCalls().front();
        ASSERT_EQ(args.size(), 1u);
        const QString path = QString::fromStdString(args[0]);
        EXPECT_NE(args[0], "/tmp/tolvik.cer");
        EXPECT_EQ(ViewerFile(0), *c.der);
        struct stat st = {};
        ASSERT_EQ(lstat(QFileInfo(path).absolutePath().toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << "the directory is the user's own";
        ASSERT_EQ(lstat(args[0].c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_TRUE(m_messages.empty());
    }
}

TEST_F(CertsPageTest, DeleteRemovesTheContainerAndRebuildsThePage) {
    VerifyInWindow();
    ClickCtnNode({"rsa1024-keys(container)"});
    ASSERT_TRUE(Enabled(Form()->btn_DelCtn));
    QTest::mouseClick(Form()->btn_DelCtn, Qt::LeftButton);

    EXPECT_EQ(Node({"rsa1024-keys(container)"}), QModelIndex());
    EXPECT_NE(Node({"rsa2048(container)"}), QModelIndex());
    const std::vector<std::string> names = ContainerNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "rsa1024-keys"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "rsa2048"), 1);
    EXPECT_EQ(Form()->tabWidget->currentIndex(), 2);

    // Only a container node is acted on.
    Form()->treeView->setCurrentIndex(Node({"rsa2048(container)", "Sign(RSA2048)"}));
    Window()->btn_deleteCtn();
    const std::vector<std::string> after = ContainerNames();
    EXPECT_EQ(std::count(after.begin(), after.end(), "rsa2048"), 1);
}

} // namespace
} // namespace keydesk::test
