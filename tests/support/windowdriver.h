#pragma once

#include <QStringList>

class QCheckBox;
class QComboBox;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class QWidget;

namespace TestSupport {

// Finds the main window's controls the way an operator sees them: by their
// texts and kinds. Tests drive the window through these only.
class WindowDriver
{
public:
    explicit WindowDriver(QMainWindow *window);

    QPushButton *button(const QString &text) const;
    QPushButton *openButton() const;
    QComboBox *portList() const;
    QComboBox *speedList() const;
    QCheckBox *presenceBox() const;
    QProgressBar *progress() const;
    QTextBrowser *log() const;
    QWidget *portRow() const;

    // Puts a port (e.g. a pseudo-terminal path) into the list, selects it and presses open.
    void openPort(const QString &portName) const;
    void closePort() const;
    bool portOpen() const;
    bool jobButtonsEnabled() const;
    bool jobButtonsDisabled() const;

    // The log pane's lines without their time stamps.
    QStringList logLines() const;
    int countLogLines(const QString &text) const;

private:
    QMainWindow *mWindow;
};

} // namespace TestSupport
