#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

class QWidget;

namespace TestSupport {

// Closes a message box with Ok or a dialog with Cancel, as an operator would,
// and returns "title|text" ("title|" for a dialog); a null string for any
// other widget, which is left alone.
QString closeModal(QWidget *modal);

// Closes every modal box or dialog that shows up, recording its window title
// and text. Runs off a timer on the event loop, so a test, the demo or a
// benchmark that triggers a modal exec() is never stuck waiting on it.
class ModalCloser
{
public:
    explicit ModalCloser(int pollMs = 10);

    ModalCloser(const ModalCloser &) = delete;
    ModalCloser &operator=(const ModalCloser &) = delete;

    // Titles and texts of the boxes closed so far, as "title|text" (dialogs: "title|").
    QStringList seen() const { return mSeen; }
    // Called with each modal widget before it is closed; return false to leave it open.
    void setInspector(std::function<bool(QWidget *)> inspector)
    {
        mInspector = std::move(inspector);
    }
    // Leaves each modal on screen this long before it is inspected and closed, so
    // a viewer of the demo can read it (default 0: at the next tick).
    void setDwell(int ms) { mDwellMs = ms; }

private:
    void onTick();

    QTimer mTimer;
    int mDwellMs = 0;
    QPointer<QWidget> mModal; // the modal being timed for its dwell
    QElapsedTimer mShownFor;
    QStringList mSeen;
    std::function<bool(QWidget *)> mInspector;
};

} // namespace TestSupport
