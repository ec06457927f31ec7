// The window's language-dependent texts: the built-in defaults without a language file, and a language
// chosen in the (hidden) language box retranslating every text and rebuilding the device tree.
#include "pages_test_support.h"

#include "multilang/wx_ml.h"

#include <QAbstractButton>
#include <QLabel>

#include <functional>

namespace keydesk::test {
namespace {

struct TextCase {
    const char* widget;
    unsigned long id;
    const char* defaultText;
};

// Widgets whose text is a language text, by object name.
const TextCase kTexts[] = {
    {"btn_ChangeLabel", 32030, "Change Label"},
    {"btn_VerifyPIN", 32032, "Verify PIN"},
    {"btn_ChangePIN", 32031, "Change PIN"},
    {"btn_UnblockPIN", 32029, "Unblock PIN"},
    {"lab_title_keyinfo", 32009, "USB Info"},
    {"lab_title_changelab", 32010, "Change Label"},
    {"lab_newlabel", 32011, "New Label"},
    {"lab_title_verifyPIN", 32013, "Verify User PIN"},
    {"lab_PIN", 32012, "User PIN"},
    {"lab_title_changePIN", 32004, "Change User PIN"},
    {"lab_oldPIN", 32005, "Old User PIN"},
    {"lab_newPIN", 32006, "New User PIN"},
    {"lab_confirmPIN", 32007, "Confirm User PIN"},
    {"lab_title_UnblockPIN", 32023, "Unblock User PIN"},
    {"lab_SOPIN", 32024, "SO PIN"},
    {"lab_UserPIN", 32025, "New User PIN"},
    {"lab_confirmUserPIN", 32026, "Confirm User PIN"},
    {"check_pinType", 33000, "Switch"},
    {"lab_cert_2", 30001, "Data Manager"},
    {"btn_ViewCert", 32033, "View"},
    {"btn_ExpCert", 32034, "Export"},
    {"btn_DelCtn", 32035, "Delete"},
    {"btn_VerifyPIN_OK", 30030, "OK"},
    {"btn_ChangPIN_OK", 30030, "OK"},
    {"btn_UnblockPIN_OK", 30030, "OK"},
    {"btn_ChangeLab_OK", 30030, "OK"},
    {"chb_devAuthkey", 32044, "default"},
};

std::string WidgetText(QWidget* window, const char* name) {
    QWidget* widget = window->findChild<QWidget*>(QString::fromLatin1(name));
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text().toStdString();
    return "<no widget " + std::string(name) + ">";
}

class ViewsTest : public PagesTest {
protected:
    bool UsesLanguageFiles() const override { return true; }
};

using ViewsDefaultsTest = PagesTest;

TEST_F(ViewsDefaultsTest, EveryTextIsItsDefaultWithoutLanguageFile) {
    StartWindow();
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.widget);
        EXPECT_EQ(WidgetText(Window(), c.widget), c.defaultText);
    }
    EXPECT_EQ(Window()->windowTitle().toStdString(), "Quorvel证书管理工具");
    EXPECT_EQ(Form()->label_about->text().toStdString(), "Quorvel证书管理工具");
    EXPECT_TRUE(Form()->label_bottom->text().isEmpty());
    EXPECT_EQ(Form()->cbx_lang->itemText(0).toStdString(), "Chinese (Simplified)");
    EXPECT_EQ(Form()->cbx_lang->itemText(2).toStdString(), "English");
}

// Each box entry loads its language: every text becomes that file's text of its id, the device tree is
// rebuilt under the new header, and the box keeps the chosen entry.
TEST_F(ViewsTest, ChoosingALanguageRetranslatesAndRebuildsTheTree) {
    const std::string name = DeviceNameOf(Plug({"--blank"}));
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));

    for (int index : {0, 1, 2}) {
        SCOPED_TRACE(index);
        Form()->cbx_lang->setCurrentIndex(index);
        EXPECT_EQ(Form()->cbx_lang->currentIndex(), index);
        // The file of that language is in use: its texts are not the English defaults.
        const std::string header = __(30002, "DevList");
        const std::string empty = __(30000, "Empty Device");
        if (index != 2) {
            EXPECT_NE(header, "DevList");
            EXPECT_NE(empty, "Empty Device");
        }
        for (const TextCase& c : kTexts) {
            SCOPED_TRACE(c.widget);
            EXPECT_EQ(WidgetText(Window(), c.widget), __(c.id, c.defaultText));
        }
        EXPECT_EQ(Form()->treeView_Dev->model()->headerData(0, Qt::Horizontal).toString().toStdString(), header);
        EXPECT_EQ(TreeLines(Form()->treeView_Dev), (std::vector<std::string>{name, "  " + empty}));
        EXPECT_EQ(Form()->cbx_lang->itemText(index).toStdString(),
                  __(1000 + static_cast<unsigned long>(index), index == 0   ? "Chinese (Simplified)"
                                                               : index == 1 ? "Chinese (Traditional)"
                                                                            : "English"));
    }
}

TEST_F(ViewsTest, KeyInfoButtonShowsTheInformationPage) {
    StartWindow();
    Form()->tabWidget_2->setCurrentIndex(0);
    Window()->btn_keyinfo();
    EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 1);
}

} // namespace
} // namespace keydesk::test
