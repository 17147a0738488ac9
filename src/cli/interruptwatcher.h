#pragma once

#include <QObject>

// Turns Ctrl+C, SIGTERM and SIGHUP (on Windows the console's control events) into a
// signal on the event loop, where stopping the ports is safe.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    // Whether standard output is a terminal (progress lines are drawn only there).
    static bool outputIsTerminal();
    // Catches the signals at once, before any watcher exists: one that comes
    // early waits until a watcher's event loop runs. Called first in main.
    static void catchSignals();

signals:
    void signal_interrupted();

private:
    void install();
    void uninstall();
};
