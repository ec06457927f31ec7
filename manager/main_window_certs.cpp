// The certificate page's actions: which buttons a selection enables, export of a certificate to a file,
// viewing it in the desktop's viewer, and deleting a container.

#include "main_window.h"

#include "dev_mgr.h"
#include "export_file_dialog.h"
#include "my_message_box.h"
#include "private_view_file.h"
#include "ui_main_window.h"

#include <QFile>
#include <QProcess>
#include <QStandardItemModel>

#include <vector>

namespace {

constexpr int kOpenForExport = 1;
constexpr int kOpenForView = 2;
constexpr int kEncryptUsage = 0;
constexpr int kSignUsage = 1;
constexpr int kMaxContainerNameBytes = 128;

constexpr unsigned kTitleExportCert = 9006;
constexpr unsigned kTitleViewCert = 9007;
constexpr unsigned kImportFailed = 8004;
constexpr unsigned kExportFailed = 8005;
constexpr unsigned kExportSucceeded = 8002;

const char kProposedFileName[] = "tolvik.cer";
const char kViewer[] = "gcr-viewer";

bool IsKeyNode(const QString& text) {
    return text == MainWindow::mlText(30020, "Public key") || text == MainWindow::mlText(30021, "Private key");
}

// The certificate of a usage of the current container, exactly as the token gives it; empty on failure.
QByteArray ExportCertificateBytes(int usage) {
    cDevMgr* devMgr = cDevMgr::getInst();
    unsigned len = 0;
    if (devMgr->ExportCertificate(usage, nullptr, &len) != SAR_OK || len == 0)
        return QByteArray();
    std::vector<unsigned char> der(static_cast<size_t>(len) + 1, 0);
    unsigned filled = len;
    if (devMgr->ExportCertificate(usage, der.data(), &filled) != SAR_OK || filled == 0 || filled > len)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(der.data()), static_cast<int>(filled));
}

} // namespace

QByteArray MainWindow::containerNameOfNode(const QModelIndex& node) const {
    const QByteArray text = node.data().toString().toLocal8Bit();
    const QByteArray suffix = mlText(70001, "(container)").toLocal8Bit();
    if (text.size() <= suffix.size() || !text.endsWith(suffix))
        return QByteArray();
    return text.left(std::min(text.size() - suffix.size(), kMaxContainerNameBytes));
}

void MainWindow::Ctn_selected(QModelIndex index) {
    if (!m_userPinVerified) {
        for (QPushButton* button : {ui->btn_DelCtn, ui->btn_ViewCert, ui->btn_ExpCert})
            button->setEnabled(false);
        return;
    }
    if (!index.isValid())
        return;
    if (!index.parent().isValid()) {
        ui->btn_DelCtn->setEnabled(true);
        ui->btn_ViewCert->setEnabled(false);
        ui->btn_ExpCert->setEnabled(false);
        return;
    }
    if (keyFolderUsage(index.parent().data().toString()) < 0)
        return;
    ui->btn_DelCtn->setEnabled(false);
    const bool certificate = !IsKeyNode(index.data().toString());
    ui->btn_ViewCert->setEnabled(certificate);
    ui->btn_ExpCert->setEnabled(certificate);
}

void MainWindow::openCurrentNodeCTN(int mode) {
    openContainerOfCurrentNode(mode);
}

bool MainWindow::openContainerOfCurrentNode(int mode) {
    QModelIndex node = ui->treeView->currentIndex();
    if (!node.isValid())
        return false;
    while (node.parent().isValid())
        node = node.parent();
    QByteArray name = containerNameOfNode(node);
    // A container that cannot be opened must not leave the previous one current: the action would then
    // export or show another container's certificate.
    if (name.isEmpty() || cDevMgr::getInst()->OpenContainer(name.data()) != SAR_OK) {
        if (mode == kOpenForExport)
            showMessage(kExportFailed, kTitleExportCert, 0);
        else
            showMessage(kImportFailed, kTitleViewCert, 0);
        return false;
    }
    return true;
}

void MainWindow::btn_exportCert() {
    const QModelIndex node = ui->treeView->currentIndex();
    if (!node.isValid() || !node.parent().isValid() || !node.parent().parent().isValid())
        return;
    const int usage = keyFolderUsage(node.parent().data().toString());
    if (usage < 0 || IsKeyNode(node.data().toString()))
        return;

    const QString path =
        askExportFileName(this, mlText(30029, "Export Certificate"), QString::fromLatin1(kProposedFileName));
    if (path.isEmpty())
        return;
    if (!openContainerOfCurrentNode(kOpenForExport))
        return;

    unsigned message = kExportFailed;
    const QByteArray der = ExportCertificateBytes(usage);
    if (!der.isEmpty()) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(der) == der.size() && file.flush()) {
            file.close();
            if (file.error() == QFileDevice::NoError)
                message = kExportSucceeded;
        }
    }
    showMessage(message, kTitleExportCert, 0);
}

void MainWindow::btn_viewCert() {
    if (!openContainerOfCurrentNode(kOpenForView))
        return;
    const QModelIndex node = ui->treeView->currentIndex();
    const bool encryption = node.parent().isValid() && keyFolderUsage(node.parent().data().toString()) == kEncryptUsage;
    viewCertificate(!encryption);
}

void MainWindow::viewCertificate(bool sign) {
    const QByteArray der = ExportCertificateBytes(sign ? kSignUsage : kEncryptUsage);
    if (der.isEmpty())
        return;
    const QString path = writePrivateViewFile(der);
    if (path.isEmpty())
        return;
    // Started directly, never through a shell: the path is one argument whatever it holds.
    QProcess::startDetached(QString::fromLatin1(kViewer), {path});
}

void MainWindow::btn_deleteCtn() {
    const QModelIndex node = ui->treeView->currentIndex();
    if (!node.isValid() || node.parent().isValid())
        return;
    QByteArray name = containerNameOfNode(node);
    if (name.isEmpty()) {
        showMessage(kImportFailed, kTitleViewCert, 0);
        return;
    }
    cDevMgr::getInst()->DeleteContainer(name.data());
    chooseApp(m_certPageDevName);
}

// Import is not offered: its button stays hidden.
void MainWindow::btn_importCert() {}
