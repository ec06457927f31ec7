#include "manager/my_message_box.h"

#include "multilang/wx_ml.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

#include <utility>

namespace {

struct MessageEntry {
    unsigned code;
    unsigned long textId;
    const char* defaultText;
    bool twoButtons;
};

// Message code → language id, default text and whether the dialog offers cancel and continue.
const MessageEntry kMessages[] = {
    {2000, 30037, "Successfully verify the RAV-Iruzaz password", false},
    {2001, 30041, "Successfully change the RAV-Iruzaz password", false},
    {2002, 30078, "The password entered is not long enough", true},
    {2003, 30073, "The password does not contain any combination of numbers and letters", true},
    {2004, 30077,
     "The password contains consecutive repeated letters or numbers. you may disregard this message to continue", true},
    {2005, 30038, "Error in confirming the RAV-Iruzaz password entry", false},
    {2006, 30069, "The old and new RAV-Iruzaz passwords are the same", false},
    {2007, 30039, "RAV-Iruzaz password locked", false},
    {2008, 30044, "RAV-Iruzaz change passwd cancel", false},
    {2009, 30040, "Failure in verifying RAV-Iruzaz password %d", false},
    {2010, 300401, "Failure in verifying RAV-Iruzaz password %d", false},
    {2024, 30045, "RAV-Iruzaz unblock success", false},
    {2025, 30046, "RAV-Iruzaz unblock fail", false},
    {2026, 30047, "RAV-Iruzaz initialize success", false},
    {2027, 30048, "RAV-Iruzaz initialize fail", false},
    {2028, 32041, "Please modify the device authentication key first", false},
    {2029, 32045, "You are initializing Ukey, which will clear all data on Ukey. Do you want to continue?", true},
    {2030, 32049, "It is detected that the pin is the default pin. Click \"continue\" to modify", true},
    {2032, 32050,
     "Sorry, please use two or more character combinations to set the password(number, upper case, lower case, "
     "symbol)",
     false},
    {2033, 32051,
     "Sorry, please don't use the combination of simple letter string and simple number string to set the password",
     false},
    {3000, 30036, "U Shield name is too long, please re-enter within 30 characters in length U Shield new name", false},
    {3001, 30042, "Device label changed successfully", false},
    {4000, 30065, "Please select a cert", false},
    {4001, 31001, "It will be deleted!\r\nPlease make sure you want to continue this operation", true},
    {5000, 31000, "Object successfully deleted", false},
    {6001, 30053, "device auth failed", false},
    {6002, 30050, "Change device auth key success", false},
    {6003, 30051, "Change device auth key fail", false},
    {6004, 30052, "Device auth key length error", false},
    {6005, 30054, "The new key does not match the old key", false},
    {7000, 30043, "Operation failed", false},
    {8000, 31002, "please select a cert.", false},
    {8001, 31003, "import cert success.", false},
    {8002, 31004, "export cert success.", false},
    {8003, 31005, "cert not existes.", false},
    {8004, 31006, "import cert failed.", false},
    {8005, 31007, "export cert failed.", false},
};

struct TitleEntry {
    unsigned code;
    unsigned long textId;
    const char* defaultText;
};

const TitleEntry kTitles[] = {
    {9001, 32030, "Change Label"},     {9002, 32032, "Verify PIN"},         {9003, 32031, "Change PIN"},
    {9004, 32029, "Unblock PIN"},      {9005, 32036, "Import Certificate"}, {9006, 32037, "Export Certificate"},
    {9007, 32038, "View Certificate"}, {9008, 32039, "Delete Container"},   {9009, 32040, "Change DevAuthKey"},
    {9010, 32028, "Initialize"},
};
const TitleEntry kOtherTitle = {0, 30071, "U Key"};

// The PIN-change form of these codes is used by no page; they show no message text.
bool IsPinFormCode(unsigned code) {
    return code == 2031 || code == 2034;
}

const MessageEntry* FindMessage(unsigned code) {
    for (const MessageEntry& entry : kMessages) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

const TitleEntry& FindTitle(unsigned code) {
    for (const TitleEntry& entry : kTitles) {
        if (entry.code == code)
            return entry;
    }
    return kOtherTitle;
}

// Places a word-wrapped caption over the whole face of a button, so long translations wrap instead of
// being cut off.
QLabel* AddCaption(QPushButton* button) {
    auto* caption = new QLabel(button);
    caption->setObjectName(button->objectName() + QStringLiteral("_caption"));
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    QFont font = caption->font();
    font.setPointSize(10);
    caption->setFont(font);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption->setGeometry(2, 2, button->width() - 4, button->height() - 4);
    return caption;
}

myMessageBox::Responder& ResponderSlot() {
    static myMessageBox::Responder responder;
    return responder;
}

} // namespace

myMessageBox::myMessageBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("myMessageBox"));
    setFixedSize(380, 270);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    setModal(true);

    m_labMsg = new QLabel(this);
    m_labMsg->setObjectName(QStringLiteral("lab_msg"));
    m_labMsg->setGeometry(40, 80, 300, 110);
    m_labMsg->setAlignment(Qt::AlignCenter);
    m_labMsg->setWordWrap(true);

    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName(QStringLiteral("btn_msg_cancel"));
    m_btnCancel->setGeometry(30, 220, 100, 30);
    m_btnOk = new QPushButton(this);
    m_btnOk->setObjectName(QStringLiteral("btn_msg_ok"));
    m_btnOk->setGeometry(250, 220, 100, 30);
    m_btnOk->setDefault(true);
    m_cancelCaption = AddCaption(m_btnCancel);
    m_okCaption = AddCaption(m_btnOk);

    connect(m_btnCancel, &QPushButton::clicked, this, &myMessageBox::btn_cancel);
    connect(m_btnOk, &QPushButton::clicked, this, &myMessageBox::btn_ok_continue);
}

void myMessageBox::setWarnMode(unsigned message, unsigned title, unsigned value) {
    m_twoButtons = false;
    m_pinForm = false;

    const TitleEntry& titleEntry = FindTitle(title);
    setWindowTitle(tr(__(titleEntry.textId, titleEntry.defaultText).c_str()));

    QString text;
    if (const MessageEntry* entry = FindMessage(message)) {
        text = tr(__(entry->textId, entry->defaultText).c_str());
        m_twoButtons = entry->twoButtons;
        // The value goes in as text, never through a format: a language file's "%s" must not be read as one.
        if (message == 2009 || message == 2010) {
            const int at = text.indexOf(QStringLiteral("%d"));
            if (at >= 0)
                text.replace(at, 2, QString::number(value));
        }
        if (message == 3000) {
            const TitleEntry& labelTitle = FindTitle(9001);
            setWindowTitle(tr(__(labelTitle.textId, labelTitle.defaultText).c_str()));
        }
    } else if (IsPinFormCode(message)) {
        m_pinForm = true;
    }

    if (m_twoButtons) {
        m_btnCancel->show();
        m_cancelCaption->setText(tr(__(30081, "cancel").c_str()));
        m_okCaption->setText(tr(__(30080, "continue").c_str()));
    } else {
        m_btnCancel->hide();
        m_okCaption->setText(tr(__(30030, "OK").c_str()));
    }

    m_labMsg->setText(text);
    m_labMsg->setVisible(!m_pinForm);
}

int myMessageBox::exec() {
    if (ResponderSlot())
        return ResponderSlot()(*this);
    return QDialog::exec();
}

QString myMessageBox::messageText() const {
    return m_labMsg->text();
}

QString myMessageBox::okCaption() const {
    return m_okCaption->text();
}

QString myMessageBox::cancelCaption() const {
    return m_twoButtons ? m_cancelCaption->text() : QString();
}

void myMessageBox::setResponder(Responder responder) {
    ResponderSlot() = std::move(responder);
}

void myMessageBox::btn_cancel() {
    done(ResultCancel);
}

void myMessageBox::btn_ok_continue() {
    done(ResultContinue);
}

void myMessageBox::reject() {
    done(ResultCancel);
}
