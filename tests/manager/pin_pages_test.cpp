// The label, verify, change and unblock pages driven as a user drives them: typing, the live checks
// that enable OK, the token call and the message shown for each outcome.
#include "pages_test_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstring>

namespace keydesk::test {
namespace {

const char kDefaultPin[] = "12345678";

class PinPagesTest : public PagesTest {
protected:
    void SetUp() override {
        PagesTest::SetUp();
        m_name = DeviceNameOf(Plug());
        StartWindow();
        ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
        ClickDevice(m_name);
        ASSERT_TRUE(Enabled(Form()->btn_VerifyPIN));
    }

    // Types text key by key with the characters as the key events' text (also for Chinese, which
    // QTest::keyClicks cannot send), so the field's own length limit applies.
    static void Type(QLineEdit* edit, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &press);
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &release);
        }
    }

    void Click(QPushButton* button) {
        ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Remaining tries of a PIN type, read through a session of the test's own.
    ULONG Remaining(ULONG type) {
        SkfSession session = OpenDefaultApplication(m_name);
        ULONG max = 0;
        ULONG remain = 0;
        BOOL isDefault = 0;
        EXPECT_EQ(Op()->SKF_GetPINInfo(session.app, type, &max, &remain, &isDefault), SAR_OK);
        return remain;
    }

    ULONG VerifyWithSkf(const char* pin) {
        SkfSession session = OpenDefaultApplication(m_name);
        ULONG retry = 0;
        return Op()->SKF_VerifyPIN(session.app, 1, Text(pin), &retry);
    }

    void LockUserPin() {
        for (int i = 0; i < 10; ++i)
            VerifyWithSkf("00000000");
        ASSERT_EQ(VerifyWithSkf(kDefaultPin), SAR_PIN_LOCKED);
    }

    std::string DeviceLabel() {
        Struct_DEVINFO info{};
        EXPECT_EQ(DeviceInfo(m_name, &info), SAR_OK);
        char label[33] = {};
        std::memcpy(label, info.Label, sizeof info.Label);
        return label;
    }

    bool CertButtonsEnabled() {
        return Enabled(Form()->btn_ExpCert) && Enabled(Form()->btn_ViewCert) && Enabled(Form()->btn_DelCtn);
    }
    bool CertButtonsDisabled() {
        return !Enabled(Form()->btn_ExpCert) && !Enabled(Form()->btn_ViewCert) && !Enabled(Form()->btn_DelCtn);
    }

    std::string m_name;
};

TEST_F(PinPagesTest, VerifyWrongThenRightPinGatesTheCertificateButtons) {
    Click(Form()->btn_VerifyPIN);
    EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 3);
    EXPECT_FALSE(Enabled(Form()->btn_VerifyPIN_OK));

    Type(Form()->VerifyPIN_Edit, "11111111");
    EXPECT_EQ(Form()->lab_PINcheck->text().toStdString(), "Already input 8 character");
    Click(Form()->btn_VerifyPIN_OK);
    ShownMessage shown = TakeMessage();
    EXPECT_EQ(shown.text, "Failure in verifying RAV-Iruzaz password 9");
    EXPECT_EQ(shown.title, "Verify PIN");
    EXPECT_TRUE(CertButtonsDisabled());
    EXPECT_TRUE(Form()->VerifyPIN_Edit->text().isEmpty());
    EXPECT_FALSE(Enabled(Form()->btn_VerifyPIN_OK));
    EXPECT_TRUE(Form()->lab_PINcheck->text().isEmpty());

    Type(Form()->VerifyPIN_Edit, kDefaultPin);
    Click(Form()->btn_VerifyPIN_OK);
    shown = TakeMessage();
    EXPECT_EQ(shown.text, "Successfully verify the RAV-Iruzaz password");
    EXPECT_EQ(shown.title, "Verify PIN");
    EXPECT_TRUE(CertButtonsEnabled());
    EXPECT_EQ(Remaining(1), 10u);

    // A failure after a success takes the buttons away again.
    Type(Form()->VerifyPIN_Edit, "22222222");
    Click(Form()->btn_VerifyPIN_OK);
    EXPECT_EQ(TakeMessage().text, "Failure in verifying RAV-Iruzaz password 9");
    EXPECT_TRUE(CertButtonsDisabled());
}

TEST_F(PinPagesTest, ShortPinKeepsOkDisabledAndNeverReachesTheToken) {
    Click(Form()->btn_VerifyPIN);
    Type(Form()->VerifyPIN_Edit, "12345");
    EXPECT_EQ(Form()->lab_PINcheck->text().toStdString(), "Already input 5 character");
    EXPECT_FALSE(Enabled(Form()->btn_VerifyPIN_OK));

    Window()->btn_verifyPIN_ok();
    const ShownMessage shown = TakeMessage();
    EXPECT_EQ(shown.text, "The password entered is not long enough");
    EXPECT_TRUE(shown.twoButtons);
    EXPECT_EQ(Remaining(1), 10u);
}

TEST_F(PinPagesTest, LockedPinIsReported) {
    LockUserPin();
    Click(Form()->btn_VerifyPIN);
    Type(Form()->VerifyPIN_Edit, kDefaultPin);
    Click(Form()->btn_VerifyPIN_OK);
    EXPECT_EQ(TakeMessage().text, "RAV-Iruzaz password locked");
    EXPECT_TRUE(CertButtonsDisabled());
}

TEST_F(PinPagesTest, ChangePinOutcomes) {
    struct Case {
        const char* old;
        const char* fresh;
        const char* confirm;
        const char* message;
    };
    const Case cases[] = {
        {kDefaultPin, "11223344", "112233445", "Error in confirming the RAV-Iruzaz password entry"},
        {"00000000", "11223344", "112233", "Error in confirming the RAV-Iruzaz password entry"},
        {kDefaultPin, kDefaultPin, kDefaultPin, "The old and new RAV-Iruzaz passwords are the same"},
        {"00000000", "11223344", "11223344", "Failure in verifying RAV-Iruzaz password 9"},
        {kDefaultPin, "11223344", "11223344", "Successfully change the RAV-Iruzaz password"},
    };
    Click(Form()->btn_ChangePIN);
    EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.old) + " " + c.fresh + " " + c.confirm);
        EXPECT_FALSE(Enabled(Form()->btn_ChangPIN_OK));
        Type(Form()->OldPIN_Edit, c.old);
        Type(Form()->NewPIN_Edit, c.fresh);
        Type(Form()->ConfirmPIN_Edit, c.confirm);
        Click(Form()->btn_ChangPIN_OK);
        const ShownMessage shown = TakeMessage();
        EXPECT_EQ(shown.text, c.message);
        EXPECT_EQ(shown.title, "Change PIN");
        for (QLineEdit* edit : {Form()->OldPIN_Edit, Form()->NewPIN_Edit, Form()->ConfirmPIN_Edit})
            EXPECT_TRUE(edit->text().isEmpty());
    }
    EXPECT_EQ(VerifyWithSkf("11223344"), SAR_OK);
}

TEST_F(PinPagesTest, ChangePinLiveChecksCountEachFieldAndNeedAllThree) {
    Click(Form()->btn_ChangePIN);
    Type(Form()->OldPIN_Edit, "123456");
    EXPECT_EQ(Form()->lab_oldPINCheck->text().toStdString(), "Already input 6 character");
    Type(Form()->NewPIN_Edit, "abcdefg");
    EXPECT_EQ(Form()->lab_NewPINCheck->text().toStdString(), "Already input 7 character");
    EXPECT_FALSE(Enabled(Form()->btn_ChangPIN_OK));
    Type(Form()->ConfirmPIN_Edit, "abcde");
    EXPECT_FALSE(Enabled(Form()->btn_ChangPIN_OK));
    Type(Form()->ConfirmPIN_Edit, "f");
    EXPECT_TRUE(Enabled(Form()->btn_ChangPIN_OK));
    Form()->OldPIN_Edit->clear();
    EXPECT_FALSE(Enabled(Form()->btn_ChangPIN_OK));
    EXPECT_TRUE(Form()->lab_oldPINCheck->text().isEmpty());
    // The fields hold 16 characters at most.
    Type(Form()->OldPIN_Edit, "12345678901234567890");
    EXPECT_EQ(Form()->OldPIN_Edit->text().size(), 16);
}

TEST_F(PinPagesTest, UnblockOutcomes) {
    LockUserPin();
    Click(Form()->btn_UnblockPIN);
    EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 7);

    struct Case {
        const char* so;
        const char* fresh;
        const char* confirm;
        const char* message;
    };
    const Case cases[] = {
        {kDefaultPin, "22334455", "22334466", "Error in confirming the RAV-Iruzaz password entry"},
        {"00000000", "22334455", "22334455", "Failure in verifying RAV-Iruzaz password 9"},
        {kDefaultPin, "22334455", "22334455", "RAV-Iruzaz unblock success"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.so) + " " + c.fresh + " " + c.confirm);
        EXPECT_FALSE(Enabled(Form()->btn_UnblockPIN_OK));
        Type(Form()->SOPIN_Edit, c.so);
        Type(Form()->UserPIN_Edit, c.fresh);
        Type(Form()->ConfirmUserPIN_Edit, c.confirm);
        Click(Form()->btn_UnblockPIN_OK);
        const ShownMessage shown = TakeMessage();
        EXPECT_EQ(shown.text, c.message);
        EXPECT_EQ(shown.title, "Unblock PIN");
        EXPECT_TRUE(CertButtonsDisabled());
    }
    EXPECT_EQ(VerifyWithSkf("22334455"), SAR_OK);

    // A new PIN of five characters never reaches the token.
    Type(Form()->SOPIN_Edit, kDefaultPin);
    Type(Form()->UserPIN_Edit, "12345");
    Type(Form()->ConfirmUserPIN_Edit, "12345");
    EXPECT_FALSE(Enabled(Form()->btn_UnblockPIN_OK));
    const ULONG soTriesBefore = Remaining(0);
    Window()->btn_unBlockPIN_OK();
    EXPECT_EQ(TakeMessage().text, "The password entered is not long enough");
    EXPECT_EQ(Remaining(0), soTriesBefore);
}

// A PIN the change page would send in Latin-1 but verification in UTF-8 could never be verified again.
TEST_F(PinPagesTest, NewPinOutsideAsciiIsRefusedBeforeTheToken) {
    Click(Form()->btn_ChangePIN);
    Type(Form()->OldPIN_Edit, kDefaultPin);
    Type(Form()->NewPIN_Edit, QString::fromUtf8("päss123"));
    Type(Form()->ConfirmPIN_Edit, QString::fromUtf8("päss123"));
    Click(Form()->btn_ChangPIN_OK);
    EXPECT_EQ(TakeMessage().text, "Operation failed");
    EXPECT_EQ(VerifyWithSkf(kDefaultPin), SAR_OK);
}

TEST_F(PinPagesTest, LabelLengthsByBytesAndCharacters) {
    struct Case {
        const char* name;
        QString typed;
        int counted;        // the count shown after typing
        bool okEnabled;     // the live check
        const char* result; // message after OK (pressed directly when disabled)
        bool stored;        // the device then carries the label
    };
    const QString ascii31 = QStringLiteral("abcdefghijklmnopqrstuvwxyz01234");
    const QString chinese10 = QString::fromUtf8("密码设备标签中文十个");
    const QString chinese11 = QString::fromUtf8("密码设备标签中文十一个");
    const Case cases[] = {
        {"31 ASCII", ascii31, 31, true, "Device label changed successfully", true},
        {"ten Chinese", chinese10, 30, true, "Device label changed successfully", true},
        {"eleven Chinese", chinese11, 33, false,
         "U Shield name is too long, please re-enter within 30 characters in "
         "length U Shield new name",
         false},
        {"trailing blank", QStringLiteral("tail "), 5, true, "Operation failed", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Click(Form()->btn_ChangeLabel);
        EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 2);
        const std::string before = DeviceLabel();
        Type(Form()->NewLabelEdit, c.typed);
        EXPECT_EQ(Form()->lab_nameCheck_1->text().toStdString(),
                  "Already input " + std::to_string(c.counted) + " character");
        EXPECT_EQ(Enabled(Form()->btn_ChangeLab_OK), c.okEnabled);
        Window()->btn_changelabe_ok();
        const ShownMessage shown = TakeMessage();
        EXPECT_EQ(shown.text, c.result);
        EXPECT_EQ(shown.title, "Change Label");
        EXPECT_EQ(DeviceLabel(), c.stored ? c.typed.toStdString() : before);
        EXPECT_TRUE(Form()->NewLabelEdit->text().isEmpty());
    }
}

TEST_F(PinPagesTest, LabelFieldTakesNoMoreThan31Characters) {
    Click(Form()->btn_ChangeLabel);
    Type(Form()->NewLabelEdit, QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ(Form()->NewLabelEdit->text().size(), 31);
    EXPECT_TRUE(Enabled(Form()->btn_ChangeLab_OK));
}

} // namespace
} // namespace keydesk::test
