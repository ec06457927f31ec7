#include "screenshots.h"

#include "main_window.h"
#include "my_message_box.h"
#include "ui_main_window.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QThread>
#include <QTreeView>
#include <QWindow>

#include <cstdio>
#include <functional>

namespace {

// Processes events until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

void settle() {
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool save(QWidget* widget, const QDir& dir, const char* name) {
    settle();
    const QString path = dir.filePath(QString::fromLatin1(name));
    const bool saved = widget->grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "saved" : "could not save", path.toLocal8Bit().constData());
    std::fflush(stdout);
    return saved;
}

} // namespace

int runScreenshotTour(MainWindow& window, const QString& dirPath) {
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "keydesk: cannot create %s\n", dirPath.toLocal8Bit().constData());
        return 1;
    }
    // The window must really come up on the display: a screenshot of a window never exposed shows nothing.
    if (!waitFor(
            [&] {
                return window.isVisible() && window.windowHandle() != nullptr && window.windowHandle()->isExposed();
            },
            15000)) {
        std::fprintf(stderr, "keydesk: the window did not come up on the display\n");
        return 1;
    }
    Ui_MainWindow* ui = window.form();
    QAbstractItemModel* devices = ui->treeView_Dev->model();
    bool ok = true;

    // The device list: the tokens present at start appear without a plug event.
    if (!waitFor([&] { return devices != nullptr && devices->rowCount() > 0; }, 15000))
        std::fprintf(stderr, "keydesk: no token appeared; the device list stays empty\n");
    ok = save(&window, dir, "1-device-list.png") && ok;

    if (devices != nullptr && devices->rowCount() > 0) {
        const QModelIndex token = devices->index(0, 0);
        ui->treeView_Dev->setCurrentIndex(token);
        window.Dev_App_selected(token);
        ok = save(&window, dir, "2-key-information.png") && ok;

        const QModelIndex application = devices->index(0, 0, token);
        if (application.isValid()) {
            ui->treeView_Dev->expand(token);
            ui->treeView_Dev->setCurrentIndex(application);
            window.Dev_App_selected(application);
            ui->treeView->expandAll();
            ok = save(&window, dir, "3-certificates.png") && ok;
        }
    }

    // A message as the pages show it: a verification result under the title "Verify PIN".
    myMessageBox* box = window.messageBox();
    box->setWarnMode(2000, 9002, 0);
    box->show();
    ok = save(box, dir, "4-message.png") && ok;
    box->hide();
    return ok ? 0 : 1;
}
