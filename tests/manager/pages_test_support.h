#pragma once
// What the page tests share on top of the keydesk fixture: every message the shared dialog shows
// (answered at once instead of run modally), clicks in the three trees, the rows of the trees as text,
// and SKF calls of the test's own through the library the window loaded.

#include "keydesk_fixture.h"

#include "manager/dev_mgr.h"
#include "manager/main_window.h"
#include "manager/my_message_box.h"
#include "ui_main_window.h"

#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

#include <cstring>
#include <string>
#include <vector>

namespace keydesk::test {

struct ShownMessage {
    std::string text;
    std::string title;
    bool twoButtons = false;
};

class PagesTest : public KeydeskTest {
protected:
    void SetUp() override {
        KeydeskTest::SetUp();
        // The pages are checked against their built-in texts; the language tests use the files.
        if (!UsesLanguageFiles())
            HideLanguageFiles();
        myMessageBox::setResponder([this](myMessageBox& box) {
            m_messages.push_back(
                {box.messageText().toStdString(), box.windowTitle().toStdString(), box.hasCancelButton()});
            return static_cast<int>(myMessageBox::ResultContinue);
        });
    }

    void TearDown() override {
        myMessageBox::setResponder(nullptr);
        KeydeskTest::TearDown();
    }

    virtual bool UsesLanguageFiles() const { return false; }

    // The one message shown since the last call (fails when there were none or several).
    ShownMessage TakeMessage() {
        EXPECT_EQ(m_messages.size(), 1u);
        ShownMessage last = m_messages.empty() ? ShownMessage{"<none>", "<none>", false} : m_messages.back();
        m_messages.clear();
        return last;
    }

    Ui_MainWindow* Form() { return &Ui(); }

    // Top-level names of a tree's model, and the texts below one of them.
    static std::vector<std::string> TopTexts(QTreeView* view) {
        std::vector<std::string> texts;
        QAbstractItemModel* model = view->model();
        for (int row = 0; model != nullptr && row < model->rowCount(); ++row)
            texts.push_back(model->index(row, 0).data().toString().toStdString());
        return texts;
    }

    // The whole tree as indented lines ("name", "  child", "    grandchild").
    static std::vector<std::string> TreeLines(QTreeView* view) {
        std::vector<std::string> lines;
        if (view->model() != nullptr)
            AddLines(view->model(), QModelIndex(), 0, &lines);
        return lines;
    }

    // Clicks a node as a user does (the view's own clicked signal drives the window).
    void ClickNode(QTreeView* view, const QModelIndex& index) {
        ASSERT_TRUE(index.isValid());
        view->scrollTo(index);
        const QRect rect = view->visualRect(index);
        ASSERT_FALSE(rect.isEmpty()) << "node not visible";
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

    // The node whose path of texts from the top is `path`.
    static QModelIndex FindNode(QTreeView* view, const std::vector<std::string>& path) {
        QAbstractItemModel* model = view->model();
        QModelIndex parent;
        for (const std::string& text : path) {
            QModelIndex found;
            for (int row = 0; model != nullptr && row < model->rowCount(parent); ++row) {
                const QModelIndex child = model->index(row, 0, parent);
                if (child.data().toString().toStdString() == text) {
                    found = child;
                    break;
                }
            }
            if (!found.isValid())
                return QModelIndex();
            parent = found;
        }
        return parent;
    }

    void ClickDevice(const std::string& devName) {
        ClickNode(Form()->treeView_Dev, FindNode(Form()->treeView_Dev, {devName}));
    }

    void ClickApplication(const std::string& devName) {
        const QModelIndex device = FindNode(Form()->treeView_Dev, {devName});
        ASSERT_TRUE(device.isValid());
        ClickNode(Form()->treeView_Dev, device.model()->index(0, 0, device));
    }

    // The caption and value of each row of the key information page.
    std::vector<std::pair<std::string, std::string>> InfoRows() {
        std::vector<std::pair<std::string, std::string>> rows;
        QAbstractItemModel* model = Form()->treeView_usbInfo->model();
        for (int row = 0; model != nullptr && row < model->rowCount(); ++row)
            rows.emplace_back(model->index(row, 0).data().toString().toStdString(),
                              model->index(row, 1).data().toString().toStdString());
        return rows;
    }

    static bool Enabled(QWidget* widget) { return widget->isEnabled(); }

    // SKF calls of the test's own, through the library the window loaded (one library per process), on
    // handles of the test's own so that the window's current handles stay as they are.
    static CGMSKFOperator* Op() { return cDevMgr::getInst()->skf(); }
    static LPSTR Text(const char* text) { return const_cast<LPSTR>(text); }

    struct SkfSession {
        DEVHANDLE dev = nullptr;
        HAPPLICATION app = nullptr;
    };

    SkfSession OpenDefaultApplication(const std::string& devName) {
        SkfSession session;
        EXPECT_EQ(Op()->SKF_ConnectDev(Text(devName.c_str()), &session.dev), SAR_OK);
        EXPECT_EQ(Op()->SKF_OpenApplication(session.dev, Text("KEYCORE-APP"), &session.app), SAR_OK);
        return session;
    }

    // The library's name of a token, found by its serial number (empty when it never shows up). Tokens
    // are plugged with Plug and named through this, which waits for that very token to be listed.
    std::string DeviceNameOf(const vtoken::test::PluggedToken& token) {
        std::string found;
        WaitUntil([&] {
            for (const std::string& name : PresentDevices()) {
                Struct_DEVINFO info{};
                if (DeviceInfo(name, &info) == SAR_OK &&
                    std::string(info.SerialNumber, strnlen(info.SerialNumber, sizeof info.SerialNumber)) ==
                        token.serial) {
                    found = name;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    ULONG DeviceInfo(const std::string& devName, Struct_DEVINFO* info) {
        DEVHANDLE dev = nullptr;
        const ULONG rv = Op()->SKF_ConnectDev(Text(devName.c_str()), &dev);
        return rv != SAR_OK ? rv : Op()->SKF_GetDevInfo(dev, info);
    }

    std::vector<ShownMessage> m_messages;

private:
    static void AddLines(QAbstractItemModel* model, const QModelIndex& parent, int depth,
                         std::vector<std::string>* lines) {
        for (int row = 0; row < model->rowCount(parent); ++row) {
            const QModelIndex child = model->index(row, 0, parent);
            lines->push_back(std::string(static_cast<size_t>(depth) * 2, ' ') + child.data().toString().toStdString());
            AddLines(model, child, depth + 1, lines);
        }
    }
};

} // namespace keydesk::test
