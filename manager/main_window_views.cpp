// Language-dependent texts of the main window and the page switches that need no token.

#include "main_window.h"

#include "multilang/wx_ml.h"
#include "ui_main_window.h"

#include <QStandardItemModel>

#include <cstdio>

namespace {

const char kToolName[] = "Quorvel证书管理工具";

struct LanguageChoice {
    int32_t code;
    const char* name;
};

// Entries of the language box, in its order.
const LanguageChoice kLanguages[] = {
    {2052, "zh_CN"},
    {1028, "zh_TW"},
    {1033, "en_US"},
};

} // namespace

void MainWindow::updateUIlang() {
    updateUIlangFirst();
    slotEventChange();
}

void MainWindow::updateUIlangFirst() {
    wx_ml_setPath(m_langDir);
    wx_ml_setPrefix("kvcsp");
    wx_ml_setCodePage(static_cast<unsigned long>(m_langCode));

    setWindowTitle(QString::fromUtf8(kToolName));
    m_devModel->setHorizontalHeaderLabels({mlText(30002, "DevList")});

    ui->label_2->setText(QString::fromUtf8(m_version));
    ui->label_version->setText(QString::fromUtf8(m_version));
    ui->label_3->setText(QString::fromUtf8(m_ownership));

    ui->check_pinType->setText(mlText(33000, "Switch"));

    // Device page buttons.
    ui->btn_ChangeLabel->setText(mlText(32030, "Change Label"));
    ui->btn_VerifyPIN->setText(mlText(32032, "Verify PIN"));
    ui->btn_ChangePIN->setText(mlText(32031, "Change PIN"));
    ui->btn_UnblockPIN->setText(mlText(32029, "Unblock PIN"));
    ui->btn_Initialize->setText(mlText(32028, "Initialize"));
    ui->btn_ChangeAuthKey->setText(mlText(32027, "Change Key"));

    // Inner pages: titles and captions.
    ui->label_about->setText(QString::fromUtf8(kToolName));
    ui->lab_title_keyinfo->setText(mlText(32009, "USB Info"));
    ui->lab_title_changelab->setText(mlText(32010, "Change Label"));
    ui->lab_newlabel->setText(mlText(32011, "New Label"));
    ui->lab_title_verifyPIN->setText(mlText(32013, "Verify User PIN"));
    ui->lab_PIN->setText(mlText(32012, "User PIN"));
    ui->lab_title_changePIN->setText(mlText(32004, "Change User PIN"));
    ui->lab_oldPIN->setText(mlText(32005, "Old User PIN"));
    ui->lab_newPIN->setText(mlText(32006, "New User PIN"));
    ui->lab_confirmPIN->setText(mlText(32007, "Confirm User PIN"));
    ui->lab_title_ChangeDevAuth->setText(mlText(32014, "Change DevAuthKey"));
    ui->lab_oldAuthKey->setText(mlText(32015, "Old DevAuthKey"));
    ui->lab_newAuthKey->setText(mlText(32016, "New DevAuthKey"));
    ui->lab_confirmAuthKey->setText(mlText(32017, "Confirm DevAuthKey"));
    ui->lab_title_Initialize->setText(mlText(32018, "Initialize"));
    ui->lab_initDevAuthKey->setText(mlText(32019, "Dev Auth Key"));
    ui->lab_initSOPIN->setText(mlText(32020, "New SO PIN"));
    ui->lab_initUserPIN->setText(mlText(32021, "New User PIN"));
    ui->lab_initLabelName->setText(mlText(32022, "New Label Name"));
    ui->lab_title_UnblockPIN->setText(mlText(32023, "Unblock User PIN"));
    ui->lab_SOPIN->setText(mlText(32024, "SO PIN"));
    ui->lab_UserPIN->setText(mlText(32025, "New User PIN"));
    ui->lab_confirmUserPIN->setText(mlText(32026, "Confirm User PIN"));

    // The language box keeps its selection while its texts change.
    const QSignalBlocker blockLanguageBox(ui->cbx_lang);
    ui->cbx_lang->setItemText(0, mlText(1000, "Chinese (Simplified)"));
    ui->cbx_lang->setItemText(1, mlText(1001, "Chinese (Traditional)"));
    ui->cbx_lang->setItemText(2, mlText(1002, "English"));

    ui->label_bottom->clear();
    ui->lab_cert_2->setText(mlText(30001, "Data Manager"));
    ui->btn_ViewCert->setText(mlText(32033, "View"));
    ui->btn_ExpCert->setText(mlText(32034, "Export"));
    ui->btn_DelCtn->setText(mlText(32035, "Delete"));
    for (QPushButton* ok : {ui->btn_ChangeLab_OK, ui->btn_VerifyPIN_OK, ui->btn_ChangPIN_OK, ui->btn_ChangAuthKey_OK,
                            ui->btn_Initialize_OK, ui->btn_UnblockPIN_OK})
        ok->setText(mlText(30030, "OK"));
    ui->chb_devAuthkey->setText(mlText(32044, "default"));
}

void MainWindow::chooseLangByIndex(int index) {
    if (index < 0 || index >= static_cast<int>(sizeof kLanguages / sizeof kLanguages[0]))
        return;
    m_langCode = kLanguages[index].code;
    std::snprintf(m_langName, sizeof m_langName, "%s", kLanguages[index].name);
    updateUIlang();
}

void MainWindow::setLangCode(int code) {
    m_langCode = code;
}

void MainWindow::btn_keyinfo() {
    ui->tabWidget_2->setCurrentIndex(1);
}
