#pragma once
// The device thread: waits in the library for tokens to arrive or leave and tells the window, which
// rebuilds its device tree in the GUI thread (the signal is delivered queued).

#include <QThread>

class cMonitor : public QThread {
    Q_OBJECT

public:
    explicit cMonitor(QObject* parent = nullptr);

signals:
    void notifyTokenEvent();

protected:
    void run() override;
};
