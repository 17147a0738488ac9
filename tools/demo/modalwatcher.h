#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QTimer;
class QWidget;

// Answers the modal boxes and dialogs the window opens, as an operator would:
// each stays on screen for a moment, is handed to the inspector (which may
// take its picture), and is then closed: a message box with Ok, a dialog with
// Cancel. Works from a timer, so it runs inside the modal's own event loop.
class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    using Inspector = std::function<void(QWidget *modal)>;

    ModalWatcher(int dwellMs, Inspector inspector, QObject *parent = nullptr);

    // "title|text" of each message box and "title|" of each dialog closed so far.
    QStringList seen() const { return mSeen; }

private slots:
    void slot_mTimerPoll_timeout();

private:
    void close(QWidget *modal);

    int mDwellMs;
    Inspector mInspector;
    QTimer *mTimerPoll;
    QPointer<QWidget> mModal;
    QElapsedTimer mShownFor;
    QStringList mSeen;
};
