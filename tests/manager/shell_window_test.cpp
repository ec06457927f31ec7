// The main window as the shell builds it: its state after construction, the slot table, the about
// page, closing, and which language files it reads.

#include "keydesk_fixture.h"
#include "main_window.h"
#include "ui_main_window.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QTabBar>
#include <QTest>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using keydesk::test::BuildPath;
using keydesk::test::KeydeskTest;
using keydesk::test::WaitUntil;

constexpr char kInstalledLang[] = "/opt/apps/com.tolvik.orvex5100gm-g/files/lang";

// The value of one key of a language file's [strings] section (empty when absent).
std::string LanguageText(const std::string& file, const std::string& id) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(id + "=", 0) == 0)
            return line.substr(id.size() + 1);
    }
    return std::string();
}

class ShellWindowTest : public KeydeskTest {
protected:
    void SetLang(const char* lang) {
        if (lang != nullptr)
            setenv("LANG", lang, 1);
        else
            unsetenv("LANG");
    }
};

TEST_F(ShellWindowTest, ConstructionLeavesTheDocumentedState) {
    SetLang("en_US.UTF-8");
    MainWindow& window = StartWindow();
    Ui_MainWindow& ui = Ui();

    EXPECT_EQ(window.minimumSize(), QSize(700, 550));
    EXPECT_EQ(window.maximumSize(), QSize(700, 550));
    EXPECT_EQ(window.size(), QSize(700, 550));
    EXPECT_FALSE(ui.tabWidget->tabBar()->isVisible());
    EXPECT_FALSE(ui.tabWidget_2->tabBar()->isVisible());
    EXPECT_EQ(ui.tabWidget->currentIndex(), 1);
    EXPECT_EQ(ui.tabWidget_2->currentIndex(), 0);

    // Hidden and disabled widgets. Nothing is selected yet, so no device event may have enabled anything.
    for (QWidget* hidden : {static_cast<QWidget*>(ui.btn_ChangeAuthKey), static_cast<QWidget*>(ui.btn_Initialize),
                            static_cast<QWidget*>(ui.check_pinType), static_cast<QWidget*>(ui.btn_Keyinfo),
                            static_cast<QWidget*>(ui.btn_ImpCert), static_cast<QWidget*>(ui.cbx_lang)}) {
        SCOPED_TRACE(hidden->objectName().toStdString());
        EXPECT_TRUE(hidden->isHidden());
    }
    EXPECT_FALSE(ui.btn_UnblockPIN->isHidden());
    for (QWidget* disabled : {static_cast<QWidget*>(ui.btn_ChangeAuthKey), static_cast<QWidget*>(ui.btn_UnblockPIN),
                              static_cast<QWidget*>(ui.btn_Initialize), static_cast<QWidget*>(ui.btn_ChangeLabel),
                              static_cast<QWidget*>(ui.btn_VerifyPIN), static_cast<QWidget*>(ui.btn_ChangePIN),
                              static_cast<QWidget*>(ui.btn_VerifyPIN_OK), static_cast<QWidget*>(ui.btn_ChangPIN_OK),
                              static_cast<QWidget*>(ui.btn_ImpCert), static_cast<QWidget*>(ui.btn_ExpCert),
                              static_cast<QWidget*>(ui.btn_DelCtn), static_cast<QWidget*>(ui.btn_ChangeLab_OK),
                              static_cast<QWidget*>(ui.btn_ChangAuthKey_OK),
                              static_cast<QWidget*>(ui.btn_UnblockPIN_OK), static_cast<QWidget*>(ui.btn_Initialize_OK),
                              static_cast<QWidget*>(ui.btn_Keyinfo), static_cast<QWidget*>(ui.Init_DevAuthKey_Edit)}) {
        SCOPED_TRACE(disabled->objectName().toStdString());
        EXPECT_FALSE(disabled->isEnabled());
    }
    EXPECT_FALSE(ui.check_pinType->isChecked());
    EXPECT_TRUE(ui.chb_devAuthkey->isChecked());

    EXPECT_EQ(ui.cbx_lang->count(), 3);
    EXPECT_EQ(ui.label_2->text(), "1.0.0");
    EXPECT_EQ(ui.label_version->text(), "1.0.0");
    EXPECT_FALSE(ui.label_3->text().isEmpty()) << "the ownership line";
    EXPECT_EQ(ui.treeView_Dev->model()->columnCount(), 1);
}

TEST_F(ShellWindowTest, TheLanguageBoxFollowsLang) {
    struct Case {
        const char* lang;
        int index;
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", 0}, {"zh_cn.utf8", 0}, {"zh_TW.UTF-8", 1}, {"zh_tw.big5", 1},
        {"en_US.UTF-8", 2}, {"C", 2},          {"zh_CN", 2},       {nullptr, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang != nullptr ? c.lang : "(unset)");
        SetLang(c.lang);
        MainWindow window;
        EXPECT_EQ(window.form()->cbx_lang->currentIndex(), c.index);
    }
}

TEST_F(ShellWindowTest, SlotsKeepTheirPositionsInTheMetaObject) {
    const char* const kSlots[] = {
        "updateUIlang",
        "updateUIlangFirst",
        "chooseLangByIndex",
        "slotEventChange",
        "myListenEventChange",
        "chooseDev",
        "chooseApp",
        "btn_Logo",
        "Dev_App_selected_noindex",
        "Dev_App_selected",
        "Ctn_selected",
        "btn_deleteCtn",
        "btn_importCert",
        "btn_exportCert",
        "btn_viewCert",
        "btn_keyinfo",
        "btn_changeLabel",
        "btn_verifyPin",
        "btn_changePin",
        "check_switchPINMode",
        "tab1_newName_Valuechange",
        "tab1_PIN_Valuechange",
        "tab1_OldPIN_Valuechange",
        "tab1_NewPIN_Valuechange",
        "tab1_ConfirmPIN_Valuechange",
        "NewLabelEdit_Valuechange",
        "UnBlockPIN_Valuechange",
        "ChangeDevAuthKey_Valuechange",
        "Initialize_Valuechange",
        "btn_unBlockPIN_OK",
        "btn_unBlockPIN",
        "btn_changelabe_ok",
        "btn_verifyPIN_ok",
        "btn_changePIN_ok",
        nullptr, // 34: stores the language code; its name is ours
        "on_activatedSysTrayIcon",
        "on_showMainAction",
        "on_exitAppAction",
    };
    const QMetaObject& meta = MainWindow::staticMetaObject;
    ASSERT_GE(meta.methodCount() - meta.methodOffset(), static_cast<int>(std::size(kSlots)));
    for (size_t i = 0; i < std::size(kSlots); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + static_cast<int>(i));
        SCOPED_TRACE(i);
        EXPECT_EQ(method.methodType(), QMetaMethod::Slot);
        if (kSlots[i] != nullptr) {
            EXPECT_EQ(method.name().toStdString(), kSlots[i]);
        }
    }
    const QMetaMethod languageCode = meta.method(meta.methodOffset() + 34);
    ASSERT_EQ(languageCode.parameterCount(), 1);
    EXPECT_EQ(languageCode.parameterType(0), QMetaType::Int);
}

TEST_F(ShellWindowTest, TheLogoOpensTheAboutPageAndClosingIsAccepted) {
    MainWindow& window = StartWindow();
    QTest::mouseClick(Ui().btn_logo, Qt::LeftButton);
    EXPECT_EQ(Ui().tabWidget->currentIndex(), 3);
    EXPECT_EQ(Ui().tabWidget->currentWidget()->objectName(), "about");
    EXPECT_EQ(Ui().label_2->text(), "1.0.0");

    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    // The pipe's request and the tray's action both bring it back.
    window.myListenEventChange();
    EXPECT_TRUE(window.isVisible());
    window.hide();
    window.on_showMainAction();
    EXPECT_TRUE(window.isVisible());
    // No tray icon exists: its handler does no harm.
    window.on_activatedSysTrayIcon(QSystemTrayIcon::Trigger);
    window.slotEventChange();
}

// Language files as keydesk reads them: the installed directory when it exists, else lang/ beside
// the program; the file of the code page that LANG chose; the defaults without one.
TEST_F(ShellWindowTest, TraditionalChineseComesFromTheFileBesideTheProgram) {
    const std::string file = BuildPath("bin/lang/kvcsp_1028.lng");
    const std::string expected = LanguageText(file, "32030");
    ASSERT_FALSE(expected.empty()) << file;
    SetLang("zh_TW.UTF-8");
    StartWindow();
    EXPECT_EQ(Ui().btn_ChangeLabel->text().toStdString(), expected);
    EXPECT_EQ(Ui().cbx_lang->currentIndex(), 1);
}

TEST_F(ShellWindowTest, TheInstalledLanguageDirectoryComesFirst) {
    ASSERT_TRUE(keydesk::test::MountEmpty("/opt")) << "needs the test's own mount namespace";
    ASSERT_EQ(vtoken::test::RunShell(std::string("mkdir -p ") + kInstalledLang).exitCode, 0);
    {
        std::ofstream out(std::string(kInstalledLang) + "/kvcsp_1033.lng");
        out << "[settings]\nCodePage=1033\nLanguage=English\n[strings]\n32030=Installed Label\n";
    }
    SetLang("en_US.UTF-8");
    StartWindow();
    EXPECT_EQ(Ui().btn_ChangeLabel->text(), "Installed Label");
    EXPECT_EQ(Ui().btn_VerifyPIN->text(), "Verify PIN") << "missing there: its default";
}

TEST_F(ShellWindowTest, AMissingLanguageFileGivesTheDefaults) {
    // Only an English file is installed; LANG asks for Traditional Chinese.
    ASSERT_TRUE(keydesk::test::MountEmpty("/opt")) << "needs the test's own mount namespace";
    ASSERT_EQ(vtoken::test::RunShell(std::string("mkdir -p ") + kInstalledLang).exitCode, 0);
    {
        std::ofstream out(std::string(kInstalledLang) + "/kvcsp_1033.lng");
        out << "[settings]\nCodePage=1033\nLanguage=English\n[strings]\n32030=Installed Label\n";
    }
    SetLang("zh_TW.UTF-8");
    StartWindow();
    EXPECT_EQ(Ui().btn_ChangeLabel->text(), "Change Label");
    EXPECT_EQ(Ui().btn_ChangePIN->text(), "Change PIN");
    EXPECT_EQ(Ui().cbx_lang->itemText(1), "Chinese (Traditional)");
}

} // namespace
