#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM (a desktop logout, kill) into a Qt signal on the window's thread, so the
// window closes the normal way and its close sequence runs. One instance per process.
class TerminationSignal : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignal(QObject *parent = nullptr);
    ~TerminationSignal() override;

signals:
    void received();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
