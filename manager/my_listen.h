#pragma once
// The listener of the "show" pipe: a second start of the program writes "show" into it, and the
// running window comes forward.

#include <QThread>

#include <string>

class myListen : public QThread {
    Q_OBJECT

public:
    // Removes the pipe and creates it anew (mode 0666 before the umask).
    explicit myListen(QObject* parent = nullptr);
    // The same at another path, for tests.
    myListen(const std::string& fifoPath, QObject* parent);

signals:
    void notifyMyListenEvent();

protected:
    void run() override;

private:
    std::string m_fifoPath;
};
