// The main window's construction and the shell's own slots; the pages live in main_window_*.cpp.

#include "main_window.h"

#include "mgr_version.h"
#include "monitor_thread.h"
#include "multilang/wx_ml.h"
#include "my_listen.h"
#include "my_message_box.h"
#include "ui_main_window.h"

#include <QCloseEvent>
#include <QStandardItemModel>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char kInstalledLangDir[] = "/opt/apps/com.tolvik.orvex5100gm-g/files/lang";

// The installed language directory when it exists, else "lang" beside the running executable.
void chooseLangDir(char* dir, size_t size) {
    if (access(kInstalledLangDir, F_OK) == 0) {
        std::snprintf(dir, size, "%s", kInstalledLangDir);
        return;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
    char exe[MainWindow::kLangDirSize] = {};
    const ssize_t len = readlink(link, exe, sizeof exe - 1);
    if (len <= 0) {
        std::snprintf(dir, size, "lang");
        return;
    }
    char* slash = std::strrchr(exe, '/');
    if (slash != nullptr)
        *slash = '\0';
    std::snprintf(dir, size, "%s/lang", exe);
}

} // namespace

QString MainWindow::mlText(unsigned long id, const char* defaultText) {
    return tr(__(id, defaultText).c_str());
}

// The images are compiled into the static library keydesk_core, whose resource initialiser the linker
// would drop as unreferenced; this reference keeps it.
static void initKeydeskResources() {
    Q_INIT_RESOURCE(keydesk);
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow) {
    initKeydeskResources();
    ui->setupUi(this);

    ui->tabWidget->tabBar()->hide();
    ui->tabWidget_2->tabBar()->hide();
    ui->tabWidget_2->setAttribute(Qt::WA_TranslucentBackground);
    ui->tabWidget->setCurrentIndex(1);
    ui->tabWidget_2->setCurrentIndex(0);

    ui->btn_ChangeAuthKey->hide();
    ui->btn_Initialize->hide();
    ui->check_pinType->hide();
    ui->btn_UnblockPIN->show();
    for (QWidget* button : {static_cast<QWidget*>(ui->btn_ChangeAuthKey), static_cast<QWidget*>(ui->btn_UnblockPIN),
                            static_cast<QWidget*>(ui->btn_Initialize), static_cast<QWidget*>(ui->btn_ChangeLabel),
                            static_cast<QWidget*>(ui->btn_VerifyPIN), static_cast<QWidget*>(ui->btn_ChangePIN),
                            static_cast<QWidget*>(ui->btn_VerifyPIN_OK), static_cast<QWidget*>(ui->btn_ChangPIN_OK),
                            static_cast<QWidget*>(ui->btn_ImpCert), static_cast<QWidget*>(ui->btn_ExpCert),
                            static_cast<QWidget*>(ui->btn_DelCtn), static_cast<QWidget*>(ui->btn_ChangeLab_OK),
                            static_cast<QWidget*>(ui->btn_ChangAuthKey_OK),
                            static_cast<QWidget*>(ui->btn_UnblockPIN_OK), static_cast<QWidget*>(ui->btn_Initialize_OK)})
        button->setEnabled(false);
    ui->check_pinType->setChecked(false);

    m_monitor = new cMonitor;
    m_listen = new myListen;
    m_msgBox = new myMessageBox;
    m_ctnModel = new QStandardItemModel(ui->treeView);
    m_devModel = new QStandardItemModel(ui->treeView_Dev);
    m_devInfoModel = new QStandardItemModel(ui->treeView_usbInfo);

    chooseLangDir(m_langDir, sizeof m_langDir);

    m_devModel->setHorizontalHeaderLabels({QString()});
    ui->treeView_Dev->setModel(m_devModel);
    ui->btn_Keyinfo->setEnabled(false);
    ui->btn_Keyinfo->hide();
    ui->btn_ImpCert->hide();

    connect(ui->btn_logo, &QPushButton::clicked, this, &MainWindow::btn_Logo);
    connect(ui->treeView_Dev, &QTreeView::clicked, this, &MainWindow::Dev_App_selected);
    connect(ui->treeView, &QTreeView::clicked, this, &MainWindow::Ctn_selected);
    connect(ui->treeView, &QTreeView::doubleClicked, this, &MainWindow::Ctn_selected);
    connect(ui->btn_DelCtn, &QPushButton::clicked, this, &MainWindow::btn_deleteCtn);
    connect(ui->btn_ImpCert, &QPushButton::clicked, this, &MainWindow::btn_importCert);
    connect(ui->btn_ExpCert, &QPushButton::clicked, this, &MainWindow::btn_exportCert);
    connect(ui->btn_ViewCert, &QPushButton::clicked, this, &MainWindow::btn_viewCert);
    connect(ui->btn_Keyinfo, &QPushButton::clicked, this, &MainWindow::btn_keyinfo);
    connect(ui->btn_ChangeLabel, &QPushButton::clicked, this, &MainWindow::btn_changeLabel);
    connect(ui->btn_VerifyPIN, &QPushButton::clicked, this, &MainWindow::btn_verifyPin);
    connect(ui->btn_ChangePIN, &QPushButton::clicked, this, &MainWindow::btn_changePin);
    connect(ui->NewLabelEdit, &QLineEdit::textChanged, this, &MainWindow::tab1_newName_Valuechange);
    connect(ui->VerifyPIN_Edit, &QLineEdit::textChanged, this, &MainWindow::tab1_PIN_Valuechange);
    connect(ui->NewPIN_Edit, &QLineEdit::textChanged, this, &MainWindow::tab1_NewPIN_Valuechange);
    connect(ui->OldPIN_Edit, &QLineEdit::textChanged, this, &MainWindow::tab1_OldPIN_Valuechange);
    connect(ui->ConfirmPIN_Edit, &QLineEdit::textChanged, this, &MainWindow::tab1_ConfirmPIN_Valuechange);
    connect(ui->btn_ChangeLab_OK, &QPushButton::clicked, this, &MainWindow::btn_changelabe_ok);
    connect(ui->btn_VerifyPIN_OK, &QPushButton::clicked, this, &MainWindow::btn_verifyPIN_ok);
    connect(ui->btn_ChangPIN_OK, &QPushButton::clicked, this, &MainWindow::btn_changePIN_ok);
    for (QLineEdit* edit : {ui->SOPIN_Edit, ui->UserPIN_Edit, ui->ConfirmUserPIN_Edit})
        connect(edit, &QLineEdit::textChanged, this, &MainWindow::UnBlockPIN_Valuechange);
    for (QLineEdit* edit : {ui->OldAuthKey_Edit, ui->NewAuthKey_Edit, ui->ConfirmAuthKey_Edit})
        connect(edit, &QLineEdit::textChanged, this, &MainWindow::ChangeDevAuthKey_Valuechange);
    for (QLineEdit* edit :
         {ui->Init_LabelName_Edit, ui->Init_DevAuthKey_Edit, ui->Init_NewSOPIN_Edit, ui->Init_NewUserPIN_Edit})
        connect(edit, &QLineEdit::textChanged, this, &MainWindow::Initialize_Valuechange);
    connect(ui->chb_devAuthkey, &QCheckBox::clicked, this, &MainWindow::Initialize_Valuechange);
    connect(ui->btn_UnblockPIN, &QPushButton::clicked, this, &MainWindow::btn_unBlockPIN);
    connect(ui->btn_UnblockPIN_OK, &QPushButton::clicked, this, &MainWindow::btn_unBlockPIN_OK);

    ui->chb_devAuthkey->setChecked(true);
    ui->Init_DevAuthKey_Edit->setEnabled(false);

    connect(m_monitor, &cMonitor::notifyTokenEvent, this, &MainWindow::slotEventChange);
    connect(m_listen, &myListen::notifyMyListenEvent, this, &MainWindow::myListenEventChange);

    m_langCode = static_cast<int32_t>(wx_getSysLanguage());
    ui->cbx_lang->addItem(mlText(1000, "Chinese (Simplified)"));
    ui->cbx_lang->addItem(mlText(1001, "Chinese (Traditional)"));
    ui->cbx_lang->addItem(mlText(1002, "English"));
    ui->cbx_lang->hide();

    getMgrVersion(m_version, m_ownership);
    ui->label_2->setText(QString::fromUtf8(m_version));
    ui->label_version->setText(QString::fromUtf8(m_version));
    ui->label_3->setText(QString::fromUtf8(m_ownership));

    ui->cbx_lang->setCurrentIndex(m_langCode == 2052 ? 0 : m_langCode == 1028 ? 1 : 2);

    m_monitor->start();
    m_listen->start();

    connect(ui->cbx_lang, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MainWindow::chooseLangByIndex);

    updateUIlangFirst();
}

MainWindow::~MainWindow() {
    delete m_msgBox;
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window ends the program; nothing to keep or ask.
    event->accept();
}

void MainWindow::myListenEventChange() {
    show();
}

void MainWindow::btn_Logo() {
    ui->tabWidget->setCurrentIndex(3);
}

void MainWindow::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason) {
    // No tray icon is created, so nothing connects here; a double click would bring the window back.
    if (reason == QSystemTrayIcon::DoubleClick)
        show();
}

void MainWindow::on_showMainAction() {
    show();
}

void MainWindow::on_exitAppAction() {
    // As main does at its end: the device thread still waits inside the library, whose exit-time
    // destructors would wait for it.
    std::fflush(nullptr);
    std::_Exit(0);
}
