#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace TestSupport {

// Closes every modal box that shows up while the test runs, recording its
// window title and text. Runs off a timer on the test's event loop, so a test
// that triggers a modal exec() is never stuck waiting on it.
class ModalCloser
{
public:
    explicit ModalCloser(int pollMs = 10);
    ~ModalCloser();

    ModalCloser(const ModalCloser &) = delete;
    ModalCloser &operator=(const ModalCloser &) = delete;

    // Titles and texts of the boxes closed so far, as "title|text".
    QStringList seen() const;
    // Called with each modal widget before it is closed; return false to leave it open.
    void setInspector(std::function<bool(QWidget *)> inspector);
    // Stops closing dialogs that are not message boxes (they stay open until the test closes them).
    void setCloseDialogs(bool close);

private:
    struct Private;
    Private *d;
};

} // namespace TestSupport
