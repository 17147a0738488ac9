#include "windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

namespace TestSupport {

namespace {
constexpr int stampLength = 15;
}

WindowDriver::WindowDriver(QMainWindow *window) : mWindow(window) {}

QPushButton *WindowDriver::button(const QString &text) const
{
    const auto buttons = mWindow->findChildren<QPushButton *>();
    for (QPushButton *b : buttons) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QPushButton *WindowDriver::openButton() const
{
    QPushButton *b = button(QStringLiteral("Открыть COM-порт"));
    return b ? b : button(QStringLiteral("Закрыть COM-порт"));
}

QComboBox *WindowDriver::portList() const
{
    return mWindow->findChildren<QComboBox *>().value(0);
}

QComboBox *WindowDriver::speedList() const
{
    return mWindow->findChildren<QComboBox *>().value(1);
}

QCheckBox *WindowDriver::presenceBox() const
{
    return mWindow->findChild<QCheckBox *>();
}

QProgressBar *WindowDriver::progress() const
{
    return mWindow->findChild<QProgressBar *>();
}

QTextBrowser *WindowDriver::log() const
{
    return mWindow->findChild<QTextBrowser *>();
}

QWidget *WindowDriver::portRow() const
{
    return portList()->parentWidget();
}

void WindowDriver::openPort(const QString &portName) const
{
    QComboBox *ports = portList();
    if (ports->findText(portName) < 0)
        ports->addItem(portName);
    ports->setCurrentText(portName);
    openButton()->click();
}

void WindowDriver::closePort() const
{
    if (portOpen())
        openButton()->click();
}

bool WindowDriver::portOpen() const
{
    return openButton()->text() == QStringLiteral("Закрыть COM-порт");
}

bool WindowDriver::jobButtonsEnabled() const
{
    for (const char *text : {"Считать настройки", "Загрузить настройки", "Прошить"}) {
        if (!button(QString::fromUtf8(text))->isEnabled())
            return false;
    }
    return true;
}

bool WindowDriver::jobButtonsDisabled() const
{
    for (const char *text : {"Считать настройки", "Загрузить настройки", "Прошить", "Очистить модем"}) {
        if (button(QString::fromUtf8(text))->isEnabled())
            return false;
    }
    return true;
}

QStringList WindowDriver::logLines() const
{
    QStringList lines = log()->toPlainText().split(QLatin1Char('\n'));
    if (lines == QStringList{QString()})
        return {};
    for (QString &line : lines)
        line = line.mid(stampLength);
    return lines;
}

int WindowDriver::countLogLines(const QString &text) const
{
    return logLines().count(text);
}

} // namespace TestSupport
