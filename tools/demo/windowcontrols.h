#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class QWidget;

// Finds the main window's controls the way an operator does: by their texts
// and kinds. The demo drives the window through these only, so it shows the
// program exactly as it ships.
class WindowControls
{
public:
    explicit WindowControls(QWidget *window);

    QPushButton *button(const QString &text) const; // null when no button has the text
    QComboBox *portList() const;
    QProgressBar *progress() const;
    QTextBrowser *log() const;

    bool portOpen() const;
    bool jobButtonsEnabled() const;
    // The log pane's lines without their time stamps.
    QStringList logLines() const;
    bool logHas(const QString &text) const;

private:
    QWidget *mWindow;
};
