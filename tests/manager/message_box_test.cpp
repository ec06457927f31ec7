// The shared message dialog: text, title and buttons for each message and title code, the value in the
// two texts that carry one, and the results of its buttons, Escape and closing the window.
#include "manager/my_message_box.h"
#include "multilang/multi_language.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>

namespace {

void EnsureApplication() {
    if (QApplication::instance() != nullptr)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "message_box_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

class MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        myMessageBox::setResponder(nullptr);
    }
    void TearDown() override { myMessageBox::setResponder(nullptr); }
};

struct MessageCase {
    unsigned message;
    unsigned title;
    unsigned value;
    const char* text;
    const char* windowTitle;
    bool twoButtons;
};

// Defaults (no language file loaded), so each text is the built-in one.
const MessageCase kCases[] = {
    {2000, 9002, 0, "Successfully verify the RAV-Iruzaz password", "Verify PIN", false},
    {2001, 9003, 0, "Successfully change the RAV-Iruzaz password", "Change PIN", false},
    {2002, 9002, 0, "The password entered is not long enough", "Verify PIN", true},
    {2004, 9003, 0,
     "The password contains consecutive repeated letters or numbers. you may disregard this message to continue",
     "Change PIN", true},
    {2005, 9004, 0, "Error in confirming the RAV-Iruzaz password entry", "Unblock PIN", false},
    {2009, 9002, 3, "Failure in verifying RAV-Iruzaz password 3", "Verify PIN", false},
    {2009, 9002, 0, "Failure in verifying RAV-Iruzaz password 0", "Verify PIN", false},
    {2010, 9003, 2, "Failure in verifying RAV-Iruzaz password 2", "Change PIN", false},
    {2024, 9004, 7, "RAV-Iruzaz unblock success", "Unblock PIN", false},
    {2029, 9010, 0, "You are initializing Ukey, which will clear all data on Ukey. Do you want to continue?",
     "Initialize", true},
    {2030, 9003, 0, "It is detected that the pin is the default pin. Click \"continue\" to modify", "Change PIN", true},
    // 3000 names its own title whatever the caller passed.
    {3000, 9002, 0, "U Shield name is too long, please re-enter within 30 characters in length U Shield new name",
     "Change Label", false},
    {3001, 9001, 0, "Device label changed successfully", "Change Label", false},
    {4001, 9008, 0, "It will be deleted!\r\nPlease make sure you want to continue this operation", "Delete Container",
     true},
    {6005, 9009, 0, "The new key does not match the old key", "Change DevAuthKey", false},
    {7000, 9005, 0, "Operation failed", "Import Certificate", false},
    {8002, 9006, 0, "export cert success.", "Export Certificate", false},
    {8004, 9007, 0, "import cert failed.", "View Certificate", false},
    {8005, 9006, 0, "export cert failed.", "Export Certificate", false},
    // Unknown message code: empty text, one button; unknown title code: the generic title.
    {1234, 9007, 0, "", "View Certificate", false},
    {2000, 4242, 0, "Successfully verify the RAV-Iruzaz password", "U Key", false},
    // The PIN form codes show no message.
    {2031, 9003, 0, "", "Change PIN", false},
};

TEST_F(MessageBoxTest, EachCodeGivesItsTextTitleAndButtons) {
    myMessageBox box;
    for (const MessageCase& c : kCases) {
        SCOPED_TRACE(testing::Message() << "message " << c.message << " title " << c.title);
        box.setWarnMode(c.message, c.title, c.value);
        EXPECT_EQ(box.messageText().toStdString(), c.text);
        EXPECT_EQ(box.windowTitle().toStdString(), c.windowTitle);
        EXPECT_EQ(box.hasCancelButton(), c.twoButtons);
        auto* cancel = box.findChild<QPushButton*>(QStringLiteral("btn_msg_cancel"));
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->isVisibleTo(&box), c.twoButtons);
        EXPECT_EQ(box.okCaption().toStdString(), c.twoButtons ? "continue" : "OK");
        EXPECT_EQ(box.cancelCaption().toStdString(), c.twoButtons ? "cancel" : "");
    }
}

// A language file's text is never read as a format: only "%d" receives the value, once.
TEST_F(MessageBoxTest, TranslatedCountTextTakesTheValueWithoutFormatting) {
    ASSERT_TRUE(orvex::ml_loadData("[settings]\nCodePage=1033\nLanguage=English\n[strings]\n"
                                   "30040=Wrong PIN %s, %d left, %d %n\n32032=Check PIN\n"));
    myMessageBox box;
    box.setWarnMode(2009, 9002, 5);
    EXPECT_EQ(box.messageText().toStdString(), "Wrong PIN %s, 5 left, %d %n");
    EXPECT_EQ(box.windowTitle().toStdString(), "Check PIN");
    box.setWarnMode(2010, 9002, 5);
    EXPECT_EQ(box.messageText().toStdString(), "Failure in verifying RAV-Iruzaz password 5");
    orvex::ml_loadData("");
}

TEST_F(MessageBoxTest, ReuseDropsTheTwoButtonStateOfTheLastMessage) {
    myMessageBox box;
    box.setWarnMode(2002, 9002, 0);
    ASSERT_TRUE(box.hasCancelButton());
    box.setWarnMode(2000, 9002, 0);
    EXPECT_FALSE(box.hasCancelButton());
    EXPECT_FALSE(box.findChild<QPushButton*>(QStringLiteral("btn_msg_cancel"))->isVisibleTo(&box));
    EXPECT_EQ(box.okCaption().toStdString(), "OK");
}

TEST_F(MessageBoxTest, DialogIsFixedInSize) {
    myMessageBox box;
    EXPECT_EQ(box.minimumSize(), QSize(380, 270));
    EXPECT_EQ(box.maximumSize(), QSize(380, 270));
}

// The real modal loop: each way out gives its documented result.
TEST_F(MessageBoxTest, ModalRunEndsWithTheResultOfEachWayOut) {
    struct Way {
        const char* name;
        void (*leave)(myMessageBox&);
        int expected;
    };
    const Way ways[] = {
        {"continue", [](myMessageBox& b) { b.findChild<QPushButton*>(QStringLiteral("btn_msg_ok"))->click(); }, 0},
        {"cancel", [](myMessageBox& b) { b.findChild<QPushButton*>(QStringLiteral("btn_msg_cancel"))->click(); }, 1},
        {"close", [](myMessageBox& b) { b.close(); }, 1},
        {"escape",
         [](myMessageBox& b) {
             QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&b, &press);
         },
         1},
    };
    myMessageBox box;
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        box.setWarnMode(2002, 9002, 0);
        QTimer::singleShot(0, &box, [&box, &way] { way.leave(box); });
        EXPECT_EQ(box.exec(), way.expected);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST_F(MessageBoxTest, ResponderAnswersInPlaceOfTheModalRun) {
    myMessageBox box;
    QString seen;
    myMessageBox::setResponder([&seen](myMessageBox& b) {
        seen = b.messageText();
        return 1;
    });
    box.setWarnMode(7000, 9001, 0);
    EXPECT_EQ(box.exec(), 1);
    EXPECT_EQ(seen.toStdString(), "Operation failed");
    EXPECT_FALSE(box.isVisible());
}

} // namespace
