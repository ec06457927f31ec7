// keydesk: one instance per machine; a second start brings the running window forward and ends.
//
// KEYDESK_AUTO_ACCEPT_MESSAGES=1 (tests only): the start-up message box closes itself as soon as it is
// shown and its title and text are printed to standard error, so a test can run keydesk without a
// person to press OK.
// keydesk --screenshots DIR: shows the main pages one after another, saves each as a PNG file in DIR and
// ends (used by the demo under Xvfb).

#include "main_window.h"
#include "screenshots.h"
#include "single_instance.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int showAlreadyRunning() {
    QMessageBox box(QMessageBox::Information, QObject::tr("warning"), QObject::tr("The program is already running."),
                    QMessageBox::Ok);
    if (std::getenv("KEYDESK_AUTO_ACCEPT_MESSAGES") != nullptr) {
        std::fprintf(stderr, "keydesk: message \"%s\": %s\n", box.windowTitle().toUtf8().constData(),
                     box.text().toUtf8().constData());
        QTimer::singleShot(0, &box, &QMessageBox::accept);
    }
    box.exec();
    return 0;
}

const char* screenshotDir(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshots") == 0)
            return argv[i + 1];
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    switch (check_single_on()) {
    case InstanceState::Failed:
        return 1;
    case InstanceState::Running:
        requestShow();
        // Ends as the first instance does (see below), without exit-time destructors.
        std::fflush(nullptr);
        std::_Exit(showAlreadyRunning());
    case InstanceState::First:
        break;
    }

    MainWindow window;
    window.setWindowTitle(QString::fromUtf8("Quorvel证书管理工具"));
    window.show();
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    window.move((desktop.width() - window.width()) / 2, (desktop.height() - window.height()) / 2);

    const char* dir = screenshotDir(argc, argv);
    const int rc = dir != nullptr ? runScreenshotTour(window, QString::fromLocal8Bit(dir)) : app.exec();
    // The device thread is still blocked inside the library's device-event wait, and the library's
    // exit-time destructors would wait for it for ever: end here, without them. Nothing of ours is
    // left to write; the worker threads end with the process.
    std::fflush(nullptr);
    std::_Exit(rc);
}
