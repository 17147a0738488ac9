#include "windowcontrols.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>

namespace {
// "hh:mm:ss.zzz : " in front of every log line.
constexpr int stampLength = 15;
} // namespace

WindowControls::WindowControls(QWidget *window) : mWindow(window) {}

QPushButton *WindowControls::button(const QString &text) const
{
    const QList<QPushButton *> buttons = mWindow->findChildren<QPushButton *>();
    for (QPushButton *candidate : buttons) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

QComboBox *WindowControls::portList() const
{
    // The first combo box is the port list; the hidden second one is the speed.
    return mWindow->findChildren<QComboBox *>().value(0);
}

QProgressBar *WindowControls::progress() const
{
    return mWindow->findChild<QProgressBar *>();
}

QTextBrowser *WindowControls::log() const
{
    return mWindow->findChild<QTextBrowser *>();
}

bool WindowControls::portOpen() const
{
    return button(QStringLiteral("Закрыть COM-порт")) != nullptr;
}

bool WindowControls::jobButtonsEnabled() const
{
    for (const char *text : {"Считать настройки", "Загрузить настройки", "Прошить"}) {
        const QPushButton *jobButton = button(QString::fromUtf8(text));
        if (!jobButton || !jobButton->isEnabled())
            return false;
    }
    return true;
}

QStringList WindowControls::logLines() const
{
    QStringList lines;
    const QTextDocument *document = log()->document();
    if (document->isEmpty())
        return lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines << block.text().mid(stampLength);
    return lines;
}

bool WindowControls::logHas(const QString &text) const
{
    return logLines().contains(text);
}
