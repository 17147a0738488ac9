#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTextBrowser>

namespace TestSupport {

// Finds the main window's controls the way an operator sees them: by their
// texts and kinds. The tests, the demo and the benchmark drive the window
// through these only, so they see the program exactly as it ships.
class WindowDriver
{
public:
    explicit WindowDriver(QMainWindow *window) : mWindow(window) {}

    QPushButton *button(const QString &text) const;
    // The open/close button, whichever text it shows.
    QPushButton *openButton() const;
    QComboBox *portList() const { return mWindow->findChildren<QComboBox *>().value(0); }
    QComboBox *speedList() const { return mWindow->findChildren<QComboBox *>().value(1); }
    QCheckBox *presenceBox() const { return mWindow->findChild<QCheckBox *>(); }
    QProgressBar *progress() const { return mWindow->findChild<QProgressBar *>(); }
    QTextBrowser *log() const { return mWindow->findChild<QTextBrowser *>(); }

    // Puts a port (e.g. a pseudo-terminal path) into the list, selects it and presses open.
    void openPort(const QString &portName) const;
    void closePort() const;
    bool portOpen() const;
    bool jobButtonsEnabled() const;  // read, load and flash
    bool jobButtonsDisabled() const; // those and clear

    // The log pane's lines without their time stamps.
    QStringList logLines() const;
    int countLogLines(const QString &text) const { return logLines().count(text); }

private:
    QMainWindow *mWindow;
};

} // namespace TestSupport
