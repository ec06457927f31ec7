#pragma once
// The manager's one window: the device tree on the left, the outer page switcher on the right (device
// page with its administration pages, certificate page, about page).
//
// Where the members are defined:
//   main_window.cpp          construction, closeEvent, myListenEventChange, btn_Logo, the tray slots,
//                            on_showMainAction, on_exitAppAction, mlText
//   main_window_devices.cpp  slotEventChange, chooseDev, chooseApp, Dev_App_selected_noindex, Dev_App_selected
//   main_window_views.cpp    updateUIlang, updateUIlangFirst, chooseLangByIndex, btn_keyinfo, setLangCode
//   main_window_pin.cpp      btn_changeLabel .. btn_changePIN_ok (the administration pages and live checks)
//   main_window_certs.cpp    Ctn_selected, btn_deleteCtn, btn_importCert, btn_exportCert, btn_viewCert,
//                            openCurrentNodeCTN, viewCertificate
// The slots keep the order below: their meta-object index is their position.

#include "skf_types.h"

#include <QMainWindow>
#include <QModelIndex>
#include <QString>
#include <QSystemTrayIcon>

#include <cstdint>
#include <map>
#include <string>

class QAction;
class QCloseEvent;
class QMenu;
class QStandardItemModel;
class Ui_MainWindow;
class cMonitor;
class myListen;
class myMessageBox;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Sizes of the fixed text buffers.
    static constexpr int kLangNameSize = 20;
    static constexpr int kLangDirSize = 512;
    static constexpr int kVersionSize = 128;
    static constexpr int kAppNameSize = 128;

    // The text of a language id (its default when no language file has it), through tr.
    static QString mlText(unsigned long id, const char* defaultText);

    // For tests and the screenshot mode: the form and the shared message dialog.
    Ui_MainWindow* form() const { return ui; }
    myMessageBox* messageBox() const { return m_msgBox; }

public slots:
    void updateUIlang();                                                    // 0
    void updateUIlangFirst();                                               // 1
    void chooseLangByIndex(int index);                                      // 2
    void slotEventChange();                                                 // 3
    void myListenEventChange();                                             // 4
    void chooseDev(QString devName);                                        // 5
    void chooseApp(QString devName);                                        // 6
    void btn_Logo();                                                        // 7
    void Dev_App_selected_noindex();                                        // 8
    void Dev_App_selected(QModelIndex index);                               // 9
    void Ctn_selected(QModelIndex index);                                   // 10
    void btn_deleteCtn();                                                   // 11
    void btn_importCert();                                                  // 12
    void btn_exportCert();                                                  // 13
    void btn_viewCert();                                                    // 14
    void btn_keyinfo();                                                     // 15
    void btn_changeLabel();                                                 // 16
    void btn_verifyPin();                                                   // 17
    void btn_changePin();                                                   // 18
    void check_switchPINMode(int state);                                    // 19
    void tab1_newName_Valuechange();                                        // 20
    void tab1_PIN_Valuechange();                                            // 21
    void tab1_OldPIN_Valuechange();                                         // 22
    void tab1_NewPIN_Valuechange();                                         // 23
    void tab1_ConfirmPIN_Valuechange();                                     // 24
    void NewLabelEdit_Valuechange();                                        // 25
    void UnBlockPIN_Valuechange();                                          // 26
    void ChangeDevAuthKey_Valuechange();                                    // 27
    void Initialize_Valuechange();                                          // 28
    void btn_unBlockPIN_OK();                                               // 29
    void btn_unBlockPIN();                                                  // 30
    void btn_changelabe_ok();                                               // 31
    void btn_verifyPIN_ok();                                                // 32
    void btn_changePIN_ok();                                                // 33
    void setLangCode(int code);                                             // 34
    void on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason); // 35
    void on_showMainAction();                                               // 36
    void on_exitAppAction();                                                // 37

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Certificate page operations: mode 1 export, 2 view.
    void openCurrentNodeCTN(int mode);
    void viewCertificate(bool sign);

    // The tray is never created (no icon, menu or actions exist); these stay null and every use
    // checks them.
    QSystemTrayIcon* m_sysTrayIcon = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_showMainAction = nullptr;
    QAction* m_exitAppAction = nullptr;

    // Worker threads: started once by the constructor, never stopped or deleted (they end with the process).
    cMonitor* m_monitor = nullptr;
    myListen* m_listen = nullptr;

    // Container name -> record of the certificate page's application, refilled with the page.
    std::map<std::string, Struct_ContainerInfo> m_ctnInfoMap;

    QStandardItemModel* m_ctnModel = nullptr;     // container tree (treeView)
    QStandardItemModel* m_devModel = nullptr;     // device tree (treeView_Dev)
    QStandardItemModel* m_devInfoModel = nullptr; // key information (treeView_usbInfo)

    myMessageBox* m_msgBox = nullptr; // shared by every message, no parent, deleted with the window
    Ui_MainWindow* ui = nullptr;      // deleted with the window

    int32_t m_langCode = 1033;           // 2052, 1028 or 1033
    char m_langName[kLangNameSize] = {}; // "zh_CN", "zh_TW", "en_US"
    char m_langDir[kLangDirSize] = {};   // directory of the language files
    char m_version[kVersionSize] = {};   // getMgrVersion
    char m_ownership[kVersionSize] = {}; // getMgrVersion

    char m_curAppName[kAppNameSize] = {}; // first application of the most recently examined token
    bool m_userPinVerified = false;       // set by a successful user PIN verification, cleared by a failed one

    // ---- page helpers ----
    // Sets up the shared message dialog and runs it; its result (0 continue, 1 cancel).
    int showMessage(unsigned message, unsigned title, unsigned value);
    // Fills the key information page; false when the token's information cannot be read.
    bool showKeyInfo(const QString &devName);
    // The containers of the open application with their key folders, certificates and keys.
    void fillContainerTree();
    // 0 for the text of an encryption key folder, 1 for a signing one, -1 for any other text.
    static int keyFolderUsage(const QString &folderText);
    // The container name of a container node's text (empty when the text does not end in the suffix).
    QByteArray containerNameOfNode(const QModelIndex &node) const;
    // Makes the container of the certificate tree's current node current; false (after its message)
    // when there is none or it cannot be opened.
    bool openContainerOfCurrentNode(int mode);
    QString m_certPageDevName; // the token whose certificate page is shown
};
