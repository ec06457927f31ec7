// The device tree, the key information page and the container tree, rebuilt from the tokens present.

#include "main_window.h"

#include "dev_mgr.h"
#include "ui_main_window.h"

#include <QHeaderView>
#include <QIcon>
#include <QStandardItemModel>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned kPinTypeSo = 0;
constexpr unsigned kPinTypeUser = 1;
constexpr int kSignUsage = 1;
constexpr int kEncryptUsage = 0;
constexpr size_t kDevNameLimit = 64;
constexpr unsigned kContainerListSize = 2048;
constexpr unsigned kCertBufferSize = 10240;
// RSAPUBLICKEYBLOB: algorithm, bit length, modulus, exponent; ECCPUBLICKEYBLOB: bit length, X, Y.
constexpr unsigned kRsaPublicBlobSize = 268;
constexpr unsigned kEccPublicBlobSize = 132;
constexpr int kInfoRows = 12;
const char kPinPlaceholder[] = "  ";

struct KeyFolder {
    ULONG containerType;
    int usage;
    ULONG bits;
    unsigned long textId;
    const char* defaultText;
};

// Key folders of RSA and ECC containers by usage and key size.
const KeyFolder kSizedFolders[] = {
    {kContainerRsa, kSignUsage, 1024, 30019, "Sign(RSA1024)"},
    {kContainerRsa, kSignUsage, 2048, 30023, "Sign(RSA2048)"},
    {kContainerRsa, kEncryptUsage, 1024, 30018, "Encrypt&Decrypt(RSA1024)"},
    {kContainerRsa, kEncryptUsage, 2048, 30022, "Encrypt&Decrypt(RSA2048)"},
    {kContainerEcc, kSignUsage, 128, 30025, "Sign(ECC128)"},
    {kContainerEcc, kSignUsage, 256, 30027, "Sign(ECC256)"},
    {kContainerEcc, kEncryptUsage, 128, 30024, "Encrypt&Decrypt(ECC128)"},
    {kContainerEcc, kEncryptUsage, 256, 30026, "Encrypt&Decrypt(ECC256)"},
};
// The folders of any other size, of a key that cannot be read, and of empty containers.
const KeyFolder kPlainSignFolder = {kContainerEmpty, kSignUsage, 0, 30092, "Sign"};
const KeyFolder kPlainEncryptFolder = {kContainerEmpty, kEncryptUsage, 0, 30091, "Encrypt&Decrypt"};

const KeyFolder* FindSizedFolder(ULONG type, int usage, ULONG bits) {
    for (const KeyFolder& folder : kSizedFolders) {
        if (folder.containerType == type && folder.usage == usage && folder.bits == bits)
            return &folder;
    }
    return nullptr;
}

// The folder of a usage with a key of that size (0: unknown size or no key).
QString FolderText(ULONG containerType, int usage, ULONG bits) {
    const KeyFolder* folder = FindSizedFolder(containerType, usage, bits);
    if (folder == nullptr)
        folder = usage == kSignUsage ? &kPlainSignFolder : &kPlainEncryptFolder;
    return MainWindow::mlText(folder->textId, folder->defaultText);
}

void AddKeyFolders(QStandardItem* containerItem, ULONG containerType);

// The names of a list of zero-terminated names ended by an empty name, read within len bytes.
std::vector<QByteArray> SplitNameList(const char* list, size_t len) {
    std::vector<QByteArray> names;
    size_t pos = 0;
    while (pos < len && list[pos] != '\0') {
        const size_t end = static_cast<size_t>(std::find(list + pos, list + len, '\0') - list);
        names.emplace_back(list + pos, static_cast<int>(end - pos));
        pos = end + 1;
    }
    return names;
}

// Reads a name list through the two-call pattern: the length first, then the list.
template <typename Enumerate> bool ReadNameList(Enumerate enumerate, std::vector<QByteArray>* names) {
    unsigned len = 0;
    if (enumerate(nullptr, &len) != SAR_OK)
        return false;
    if (len == 0) {
        names->clear();
        return true;
    }
    std::vector<char> list(static_cast<size_t>(len) + 2, '\0');
    unsigned filled = len;
    if (enumerate(list.data(), &filled) != SAR_OK)
        return false;
    *names = SplitNameList(list.data(), std::min<size_t>(filled, len));
    return true;
}

// A fixed-size text field of a device record: up to its first zero byte.
QByteArray FixedField(const char* begin, size_t size) {
    return QByteArray(begin, static_cast<int>(std::find(begin, begin + size, '\0') - begin));
}

QString SerialText(const QByteArray& serial) {
    const bool plain = std::all_of(serial.begin(), serial.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x80 && std::isalnum(byte) != 0;
    });
    if (plain)
        return QString::fromLatin1(serial);
    QString text;
    for (char c : serial)
        text += QStringLiteral(".%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
    return text;
}

QStandardItem* TextItem(const QString& text) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    return item;
}

QStandardItem* IconItem(const char* icon, const QString& text) {
    auto* item = new QStandardItem(QIcon(QString::fromLatin1(icon)), text);
    item->setEditable(false);
    return item;
}

} // namespace

int MainWindow::keyFolderUsage(const QString& folderText) {
    // Encryption labels first, as the certificate actions compare them.
    for (int usage : {kEncryptUsage, kSignUsage}) {
        const KeyFolder& plain = usage == kSignUsage ? kPlainSignFolder : kPlainEncryptFolder;
        if (folderText == mlText(plain.textId, plain.defaultText))
            return usage;
        for (const KeyFolder& folder : kSizedFolders) {
            if (folder.usage == usage && folderText == mlText(folder.textId, folder.defaultText))
                return usage;
        }
    }
    return -1;
}

void MainWindow::slotEventChange() {
    for (QPushButton* button : {ui->btn_ChangeLabel, ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_VerifyPIN_OK,
                                ui->btn_ChangPIN_OK, ui->btn_ImpCert, ui->btn_ExpCert, ui->btn_DelCtn,
                                ui->btn_ChangeAuthKey, ui->btn_UnblockPIN, ui->btn_Initialize, ui->btn_ViewCert})
        button->setEnabled(false);
    if (m_sysTrayIcon != nullptr)
        m_sysTrayIcon->setVisible(false);

    ui->tabWidget->setCurrentIndex(1);
    ui->tabWidget_2->setCurrentIndex(0);
    m_devModel->clear();
    m_ctnModel->clear();
    m_ctnInfoMap.clear();
    ui->label_bottom->clear();
    m_devModel->setHorizontalHeaderLabels({mlText(30002, "DevList")});

    cDevMgr* devMgr = cDevMgr::getInst();
    if (!devMgr->IsLoaded())
        return;

    std::vector<QByteArray> devices;
    ReadNameList([devMgr](char* buf, unsigned* len) { return devMgr->EnumDev(1, buf, len); }, &devices);
    for (QByteArray& device : devices) {
        QStandardItem* deviceItem = TextItem(QString::fromLocal8Bit(device));
        m_devModel->appendRow(deviceItem);
        devMgr->ConnectDev(device.data());

        std::vector<QByteArray> apps;
        if (!ReadNameList([devMgr](char* buf, unsigned* len) { return devMgr->EnumApplication(buf, len); }, &apps))
            continue;
        if (apps.empty() || apps.front().isEmpty()) {
            deviceItem->appendRow(TextItem(mlText(30000, "Empty Device")));
            m_curAppName[0] = '\0';
        } else {
            deviceItem->appendRow(TextItem(mlText(30001, "Data Manger")));
            std::snprintf(m_curAppName, sizeof m_curAppName, "%s", apps.front().constData());
        }
    }
    ui->treeView_Dev->setModel(m_devModel);
    ui->treeView_Dev->expandAll();
}

void MainWindow::Dev_App_selected_noindex() {
    Dev_App_selected(ui->treeView_Dev->currentIndex());
}

void MainWindow::Dev_App_selected(QModelIndex index) {
    if (!index.isValid())
        return;
    // A top-level node is always a token, even one whose applications could not be listed (no child).
    if (!index.parent().isValid()) {
        chooseDev(index.data().toString());
        ui->tabWidget->setCurrentIndex(1);
        ui->tabWidget_2->setCurrentIndex(1);
        return;
    }
    chooseApp(index.parent().data().toString());
}

void MainWindow::chooseDev(QString devName) {
    showKeyInfo(devName);
}

bool MainWindow::showKeyInfo(const QString& devName) {
    ui->btn_ChangeLabel->setEnabled(true);
    ui->btn_VerifyPIN->setEnabled(false);
    ui->btn_ChangePIN->setEnabled(false);

    QByteArray name = devName.toLocal8Bit().left(static_cast<int>(kDevNameLimit));
    cDevMgr* devMgr = cDevMgr::getInst();
    Struct_DEVINFO info;
    std::memset(&info, 0, sizeof info);
    if (name.isEmpty() || devMgr->getDevInfo(name.data(), &info) != SAR_OK)
        return false;

    const QString serial = SerialText(FixedField(info.SerialNumber, sizeof info.SerialNumber));
    ui->label_bottom->setText(QString::fromUtf8("   当前设备SN:") + serial);

    m_devInfoModel->clear();
    m_devInfoModel->setRowCount(kInfoRows);
    m_devInfoModel->setColumnCount(2);
    auto setRow = [this](int row, unsigned long captionId, const char* caption, const QString& value) {
        m_devInfoModel->setItem(row, 0, TextItem(mlText(captionId, caption)));
        m_devInfoModel->setItem(row, 1, TextItem(value));
    };
    setRow(0, 30003, "Label", QString::fromUtf8(FixedField(info.Label, sizeof info.Label)));
    setRow(1, 30004, "SerialNumber", serial);
    setRow(2, 30005, "Manufacturer", QString::fromUtf8(FixedField(info.Manufacturer, sizeof info.Manufacturer)));
    setRow(3, 30006, "HWVersion",
           QStringLiteral("%1.%2").arg(int{info.HWVersion.major}).arg(int{info.HWVersion.minor}));
    setRow(4, 30007, "TotalSpace", QStringLiteral("%1 KB").arg(ULONG{info.TotalSpace} / 1024));
    setRow(5, 30008, "FreeSpace", QStringLiteral("%1 KB").arg(ULONG{info.FreeSpace} / 1024));
    ui->treeView_usbInfo->resizeColumnToContents(0);
    ui->treeView_usbInfo->resizeColumnToContents(1);

    // An application list that cannot be read leaves no name behind from the token examined before.
    std::vector<QByteArray> apps;
    if (ReadNameList([devMgr](char* buf, unsigned* len) { return devMgr->EnumApplication(buf, len); }, &apps) &&
        !apps.empty())
        std::snprintf(m_curAppName, sizeof m_curAppName, "%s", apps.front().constData());
    else
        m_curAppName[0] = '\0';

    const QString placeholder = QString::fromLatin1(kPinPlaceholder);
    setRow(6, 30009, "SOPIN MaxRetryCount", placeholder);
    setRow(7, 30010, "SOPIN RemainRetryCount", placeholder);
    setRow(8, 30011, "SOPIN DefaultPIN", placeholder);
    setRow(9, 30012, "USERPIN MaxRetryCount", placeholder);
    setRow(10, 30013, "USERPIN RemainRetryCount", placeholder);
    setRow(11, 30014, "USERPIN DefaultPIN", placeholder);

    if (m_curAppName[0] == '\0' || devMgr->OpenApplication(m_curAppName) != SAR_OK) {
        ui->btn_VerifyPIN->setEnabled(false);
        ui->btn_ChangePIN->setEnabled(false);
        ui->btn_UnblockPIN->setEnabled(false);
    } else {
        auto fillPinRows = [this, devMgr](unsigned type, int firstRow) {
            unsigned maxRetry = 0;
            unsigned remain = 0;
            int isDefault = 0;
            if (devMgr->GetPINInfo(type, &maxRetry, &remain, &isDefault) != SAR_OK)
                return;
            m_devInfoModel->setItem(firstRow, 1, TextItem(QString::number(maxRetry)));
            m_devInfoModel->setItem(firstRow + 1, 1,
                                    TextItem(remain == 0 ? mlText(30015, "0(Locked)") : QString::number(remain)));
            m_devInfoModel->setItem(firstRow + 2, 1,
                                    TextItem(isDefault != 0 ? mlText(30016, "YES") : mlText(30017, "NO")));
        };
        fillPinRows(kPinTypeSo, 6);
        fillPinRows(kPinTypeUser, 9);
        ui->btn_VerifyPIN->setEnabled(true);
        ui->btn_ChangePIN->setEnabled(true);
        ui->btn_UnblockPIN->setEnabled(true);
    }

    ui->treeView_usbInfo->header()->hide();
    ui->treeView_usbInfo->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->treeView_usbInfo->header()->setStretchLastSection(false);
    ui->treeView_usbInfo->setModel(m_devInfoModel);
    return true;
}

void MainWindow::chooseApp(QString devName) {
    m_certPageDevName = devName;
    m_ctnInfoMap.clear();
    m_ctnModel->clear();
    ui->tabWidget->setCurrentIndex(2);
    ui->btn_ChangeLabel->setEnabled(true);

    // A token that is gone must not show the application of the token examined before it.
    if (!showKeyInfo(devName))
        m_curAppName[0] = '\0';

    cDevMgr* devMgr = cDevMgr::getInst();
    const bool opened = m_curAppName[0] != '\0' && devMgr->OpenApplication(m_curAppName) == SAR_OK;
    ui->btn_VerifyPIN->setEnabled(opened);
    ui->btn_ChangePIN->setEnabled(opened);
    ui->btn_UnblockPIN->setEnabled(opened);
    if (opened)
        fillContainerTree();
    ui->treeView->header()->hide();
    ui->treeView->setModel(m_ctnModel);
}

void MainWindow::fillContainerTree() {
    cDevMgr* devMgr = cDevMgr::getInst();
    std::vector<char> list(kContainerListSize + 2, '\0');
    unsigned len = kContainerListSize;
    if (devMgr->EnumContainer(list.data(), &len) != SAR_OK)
        return;
    const QString suffix = mlText(70001, "(container)");
    for (QByteArray& name : SplitNameList(list.data(), std::min<size_t>(len, kContainerListSize))) {
        QStandardItem* containerItem = IconItem(":/folder.png", QString::fromLocal8Bit(name) + suffix);
        m_ctnModel->appendRow(containerItem);

        Struct_ContainerInfo record;
        if (devMgr->OpenContainer(name.data()) != SAR_OK || devMgr->GetContainerInfo(&record) != SAR_OK)
            continue;
        m_ctnInfoMap[name.toStdString()] = record;
        AddKeyFolders(containerItem, record.ulContainerType);
    }
}

namespace {

void AddKeyFolders(QStandardItem* containerItem, ULONG containerType) {
    cDevMgr* devMgr = cDevMgr::getInst();

    auto certNode = [devMgr](int usage) {
        char name[cDevMgr::kCertNameSize] = {};
        QString text;
        if (devMgr->getCertName(static_cast<unsigned>(usage), name) == 0)
            text = QString::fromUtf8(name);
        // A certificate without a readable common name still needs a text to be picked by.
        if (text.isEmpty())
            text = MainWindow::mlText(70000, "Certificate");
        return IconItem(":/cert3.png", text);
    };
    auto keyNodes = [](QStandardItem* folder) {
        folder->appendRow(IconItem(":/keys.png", MainWindow::mlText(30020, "Public key")));
        folder->appendRow(IconItem(":/keys.png", MainWindow::mlText(30021, "Private key")));
    };
    auto hasCert = [devMgr](int usage) {
        std::vector<unsigned char> cert(kCertBufferSize, 0);
        unsigned len = kCertBufferSize;
        return devMgr->ExportCertificate(usage, cert.data(), &len) == SAR_OK && len > 0;
    };

    const bool certs[2] = {hasCert(kEncryptUsage), hasCert(kSignUsage)};
    const int usages[2] = {kSignUsage, kEncryptUsage};

    if (containerType == kContainerEmpty) {
        for (int usage : usages) {
            if (!certs[usage])
                continue;
            QStandardItem* folder = IconItem(":/folder.png", FolderText(kContainerEmpty, usage, 0));
            containerItem->appendRow(folder);
            folder->appendRow(certNode(usage));
        }
        return;
    }
    if (containerType != kContainerRsa && containerType != kContainerEcc)
        return;

    // The key size of a usage, or 0 when its public key cannot be read.
    auto publicKeyBits = [devMgr, containerType](int usage) -> ULONG {
        unsigned char blob[kRsaPublicBlobSize] = {};
        unsigned len = containerType == kContainerRsa ? kRsaPublicBlobSize : kEccPublicBlobSize;
        if (devMgr->ExportPublicKey(usage, blob, &len) != SAR_OK)
            return 0;
        const size_t bitsOffset = containerType == kContainerRsa ? 4 : 0;
        if (len < bitsOffset + sizeof(ULONG))
            return 0;
        ULONG bits = 0;
        std::memcpy(&bits, blob + bitsOffset, sizeof bits);
        return bits;
    };

    for (int usage : usages) {
        if (!certs[usage])
            continue;
        const ULONG bits = publicKeyBits(usage);
        QStandardItem* folder = IconItem(":/folder.png", FolderText(containerType, usage, bits));
        containerItem->appendRow(folder);
        folder->appendRow(certNode(usage));
        if (bits != 0)
            keyNodes(folder);
    }
    for (int usage : usages) {
        if (certs[usage])
            continue;
        const ULONG bits = publicKeyBits(usage);
        if (FindSizedFolder(containerType, usage, bits) == nullptr)
            continue;
        QStandardItem* folder = IconItem(":/folder.png", FolderText(containerType, usage, bits));
        containerItem->appendRow(folder);
        keyNodes(folder);
    }
}

} // namespace
