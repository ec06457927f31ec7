#pragma once
// The one modal dialog every page reports through. A caller picks a message code (text and buttons)
// and a title code, then runs exec(): 0 means OK or continue, 1 means cancel or a closed window.

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;

class myMessageBox : public QDialog {
    Q_OBJECT

public:
    enum Result { ResultContinue = 0, ResultCancel = 1 };

    explicit myMessageBox(QWidget* parent = nullptr);

    void setWarnMode(unsigned message, unsigned title, unsigned value);

    // Runs the dialog modally, unless a responder is installed: then the responder answers in its place
    // (tests read the dialog through it without a nested event loop).
    int exec() override;

    QString messageText() const;
    QString okCaption() const;
    QString cancelCaption() const;
    bool hasCancelButton() const { return m_twoButtons; }

    using Responder = std::function<int(myMessageBox&)>;
    static void setResponder(Responder responder);

public slots:
    void btn_cancel();
    void btn_ok_continue();
    // Escape and the window's close button both count as cancel.
    void reject() override;

private:
    QLabel* m_labMsg = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnOk = nullptr;
    QLabel* m_cancelCaption = nullptr;
    QLabel* m_okCaption = nullptr;
    bool m_twoButtons = false;
    bool m_pinForm = false;
};
