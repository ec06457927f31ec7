// The administration pages of the device page: label, user PIN verification, change and unblocking,
// with the live checks that enable their OK buttons.

#include "main_window.h"

#include "dev_mgr.h"
#include "my_message_box.h"
#include "ui_main_window.h"

#include <openssl/crypto.h>

#include <QLineEdit>

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kUserPinType = 1;
constexpr int kMinPinLength = 6;
constexpr int kMaxLabelBytes = 31;
constexpr int kMaxLabelChars = 31;

constexpr unsigned kTitleChangeLabel = 9001;
constexpr unsigned kTitleVerifyPin = 9002;
constexpr unsigned kTitleChangePin = 9003;
constexpr unsigned kTitleUnblockPin = 9004;

enum Message : unsigned {
    kPinVerified = 2000,
    kPinChanged = 2001,
    kPinTooShort = 2002,
    kConfirmationDiffers = 2005,
    kNewPinEqualsOld = 2006,
    kPinLocked = 2007,
    kPinIncorrect = 2009,
    kPinUnblocked = 2024,
    kLabelTooLong = 3000,
    kLabelChanged = 3001,
    kOperationFailed = 7000,
};

// A PIN as the token receives it: at most 16 bytes in a zero-filled 32-byte buffer (always terminated),
// wiped when it goes out of scope.
class PinBuffer {
public:
    explicit PinBuffer(const QByteArray& bytes) {
        m_length = std::min(bytes.size(), kMaxPinBytes);
        std::memcpy(m_bytes, bytes.constData(), static_cast<size_t>(m_length));
    }
    PinBuffer(const PinBuffer&) = delete;
    PinBuffer& operator=(const PinBuffer&) = delete;
    ~PinBuffer() { OPENSSL_cleanse(m_bytes, sizeof m_bytes); }

    char* data() { return m_bytes; }
    int length() const { return m_length; }
    bool operator==(const PinBuffer& other) const {
        return m_length == other.m_length && std::memcmp(m_bytes, other.m_bytes, static_cast<size_t>(m_length)) == 0;
    }
    bool operator!=(const PinBuffer& other) const { return !(*this == other); }

private:
    static constexpr int kMaxPinBytes = 16;
    char m_bytes[32] = {};
    int m_length = 0;
};

// The field's text taken in the encoding the token expects; the copy is wiped by the holder.
class PinBytes {
public:
    PinBytes(const QString& text, bool utf8) : m_bytes(utf8 ? text.toUtf8() : text.toLatin1()) {}
    PinBytes(const PinBytes&) = delete;
    PinBytes& operator=(const PinBytes&) = delete;
    ~PinBytes() { OPENSSL_cleanse(m_bytes.data(), static_cast<size_t>(m_bytes.size())); }
    const QByteArray& bytes() const { return m_bytes; }
    char* data() { return m_bytes.data(); }

private:
    QByteArray m_bytes;
};

bool IsAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The token's answer to a PIN operation, as a message.
unsigned PinFailureMessage(ULONG result) {
    if (result == SAR_PIN_INCORRECT)
        return kPinIncorrect;
    if (result == SAR_PIN_LOCKED)
        return kPinLocked;
    return kOperationFailed;
}

QString CountText(int count) {
    QString text = MainWindow::mlText(30028, "Already input %d character");
    const int at = text.indexOf(QStringLiteral("%d"));
    if (at >= 0)
        text.replace(at, 2, QString::number(count));
    return text;
}

} // namespace

int MainWindow::showMessage(unsigned message, unsigned title, unsigned value) {
    m_msgBox->setWarnMode(message, title, value);
    return m_msgBox->exec();
}

// ---- openers ----

void MainWindow::btn_changeLabel() {
    ui->NewLabelEdit->clear();
    tab1_newName_Valuechange();
    ui->tabWidget_2->setCurrentIndex(2);
}

void MainWindow::btn_verifyPin() {
    ui->VerifyPIN_Edit->clear();
    tab1_PIN_Valuechange();
    ui->tabWidget_2->setCurrentIndex(3);
}

void MainWindow::btn_changePin() {
    ui->check_pinType->setChecked(false);
    for (QLineEdit* edit : {ui->OldPIN_Edit, ui->NewPIN_Edit, ui->ConfirmPIN_Edit})
        edit->clear();
    tab1_OldPIN_Valuechange();
    tab1_NewPIN_Valuechange();
    tab1_ConfirmPIN_Valuechange();
    ui->tabWidget_2->setCurrentIndex(4);
}

void MainWindow::btn_unBlockPIN() {
    for (QLineEdit* edit : {ui->SOPIN_Edit, ui->UserPIN_Edit, ui->ConfirmUserPIN_Edit})
        edit->clear();
    UnBlockPIN_Valuechange();
    ui->tabWidget_2->setCurrentIndex(7);
}

// The SO PIN page of the change form is never offered.
void MainWindow::check_switchPINMode(int) {}

// ---- live checks ----

void MainWindow::tab1_newName_Valuechange() {
    const QByteArray label = ui->NewLabelEdit->text().toUtf8();
    const int bytes = static_cast<int>(qstrnlen(label.constData(), static_cast<uint>(label.size())));
    if (bytes == 0) {
        ui->lab_nameCheck_1->clear();
        ui->btn_ChangeLab_OK->setEnabled(false);
        return;
    }
    ui->lab_nameCheck_1->setText(CountText(bytes));
    ui->btn_ChangeLab_OK->setEnabled(bytes <= kMaxLabelBytes);
}

void MainWindow::tab1_PIN_Valuechange() {
    const int count = ui->VerifyPIN_Edit->text().length();
    if (count == 0) {
        ui->lab_PINcheck->clear();
        ui->btn_VerifyPIN_OK->setEnabled(false);
        return;
    }
    ui->lab_PINcheck->setText(CountText(count));
    ui->btn_VerifyPIN_OK->setEnabled(count >= kMinPinLength);
}

namespace {

// One field of the change page: its own count, and the rule over all three only while it is not empty.
void CheckChangePinField(Ui_MainWindow* ui, QLineEdit* edit, QLabel* counter) {
    const int count = edit->text().length();
    if (count == 0) {
        counter->clear();
        ui->btn_ChangPIN_OK->setEnabled(false);
        return;
    }
    counter->setText(CountText(count));
    ui->btn_ChangPIN_OK->setEnabled(ui->OldPIN_Edit->text().length() >= kMinPinLength &&
                                    ui->NewPIN_Edit->text().length() >= kMinPinLength &&
                                    ui->ConfirmPIN_Edit->text().length() >= kMinPinLength);
}

} // namespace

void MainWindow::tab1_OldPIN_Valuechange() {
    CheckChangePinField(ui, ui->OldPIN_Edit, ui->lab_oldPINCheck);
}

void MainWindow::tab1_NewPIN_Valuechange() {
    CheckChangePinField(ui, ui->NewPIN_Edit, ui->lab_NewPINCheck);
}

void MainWindow::tab1_ConfirmPIN_Valuechange() {
    CheckChangePinField(ui, ui->ConfirmPIN_Edit, ui->lab_ConfirmPINCheck);
}

void MainWindow::UnBlockPIN_Valuechange() {
    ui->btn_UnblockPIN_OK->setEnabled(ui->SOPIN_Edit->text().length() >= kMinPinLength &&
                                      ui->UserPIN_Edit->text().length() >= kMinPinLength &&
                                      ui->ConfirmUserPIN_Edit->text().length() >= kMinPinLength);
}

// The pages of these checks (initialisation, device key change) are never opened.
void MainWindow::NewLabelEdit_Valuechange() {}
void MainWindow::ChangeDevAuthKey_Valuechange() {}
void MainWindow::Initialize_Valuechange() {}

// ---- OK actions ----

void MainWindow::btn_changelabe_ok() {
    const QString text = ui->NewLabelEdit->text();
    QByteArray label = text.toUtf8();
    unsigned message = kOperationFailed;
    if (label.isEmpty() || label.endsWith(' ')) {
        message = kOperationFailed;
    } else if (text.length() > kMaxLabelChars || label.size() > kMaxLabelBytes) {
        // The device keeps 32 bytes; a longer label would be cut by the token or refused by it.
        message = kLabelTooLong;
    } else {
        const ULONG rv = cDevMgr::getInst()->SetDevLabel(label.data(), static_cast<unsigned>(label.size()));
        message = rv == SAR_OK ? kLabelChanged : kOperationFailed;
    }
    showMessage(message, kTitleChangeLabel, 0);
    ui->NewLabelEdit->clear();
}

void MainWindow::btn_verifyPIN_ok() {
    unsigned message = kPinTooShort;
    unsigned retry = 0;
    {
        PinBytes pin(ui->VerifyPIN_Edit->text(), true);
        if (pin.bytes().size() >= kMinPinLength) {
            m_userPinVerified = false;
            const ULONG rv = cDevMgr::getInst()->VerifyPIN(kUserPinType, pin.data(), &retry);
            const bool verified = rv == SAR_OK;
            m_userPinVerified = verified;
            message = verified ? kPinVerified : PinFailureMessage(rv);
            for (QPushButton* button : {ui->btn_ImpCert, ui->btn_ExpCert, ui->btn_DelCtn, ui->btn_ViewCert})
                button->setEnabled(verified);
        }
    }
    showMessage(message, kTitleVerifyPin, retry);
    ui->VerifyPIN_Edit->clear();
}

void MainWindow::btn_changePIN_ok() {
    unsigned message = kPinTooShort;
    unsigned retry = 0;
    {
        const PinBytes oldBytes(ui->OldPIN_Edit->text(), false);
        const PinBytes newBytes(ui->NewPIN_Edit->text(), false);
        const PinBytes confirmBytes(ui->ConfirmPIN_Edit->text(), false);
        PinBuffer oldPin(oldBytes.bytes());
        PinBuffer newPin(newBytes.bytes());
        const PinBuffer confirmPin(confirmBytes.bytes());
        if (confirmPin != newPin) {
            message = kConfirmationDiffers;
        } else if (newPin == oldPin) {
            message = kNewPinEqualsOld;
        } else if (!IsAscii(ui->NewPIN_Edit->text())) {
            // Verification sends UTF-8 and this page Latin-1: only ASCII reads the same both ways, so
            // any other new PIN could never be verified again.
            message = kOperationFailed;
        } else if (newPin.length() >= kMinPinLength) {
            const ULONG rv = cDevMgr::getInst()->ChangePIN(kUserPinType, oldPin.data(), newPin.data(), &retry);
            message = rv == SAR_OK ? kPinChanged : PinFailureMessage(rv);
        }
    }
    showMessage(message, kTitleChangePin, retry);
    for (QLineEdit* edit : {ui->OldPIN_Edit, ui->NewPIN_Edit, ui->ConfirmPIN_Edit})
        edit->clear();
}

void MainWindow::btn_unBlockPIN_OK() {
    for (QPushButton* button : {ui->btn_ImpCert, ui->btn_ExpCert, ui->btn_DelCtn})
        button->setEnabled(false);
    unsigned message = kPinTooShort;
    unsigned retry = 0;
    {
        const PinBytes soBytes(ui->SOPIN_Edit->text(), false);
        const PinBytes newBytes(ui->UserPIN_Edit->text(), false);
        const PinBytes confirmBytes(ui->ConfirmUserPIN_Edit->text(), false);
        PinBuffer soPin(soBytes.bytes());
        PinBuffer newPin(newBytes.bytes());
        const PinBuffer confirmPin(confirmBytes.bytes());
        if (confirmPin != newPin) {
            message = kConfirmationDiffers;
        } else if (!IsAscii(ui->UserPIN_Edit->text())) {
            message = kOperationFailed;
        } else if (newPin.length() >= kMinPinLength) {
            const ULONG rv = cDevMgr::getInst()->UnblockPIN(soPin.data(), newPin.data(), &retry);
            message = rv == SAR_OK ? kPinUnblocked : PinFailureMessage(rv);
        }
    }
    showMessage(message, kTitleUnblockPin, retry);
    for (QLineEdit* edit : {ui->SOPIN_Edit, ui->UserPIN_Edit, ui->ConfirmUserPIN_Edit})
        edit->clear();
}
