#include "windowdriver.h"
#include "protocol/tooltexts.h"

#include <algorithm>

namespace TestSupport {

namespace {
constexpr int stampLength = 15;
// Clear is last: the window keeps it hidden, and jobButtonsEnabled() leaves it out.
const QStringList jobButtons{ToolText::readButton(), ToolText::loadButton(),
                             ToolText::flashButton(), ToolText::clearButton()};
} // namespace

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
    QPushButton *b = button(ToolText::openPortButton());
    return b ? b : button(ToolText::closePortButton());
}

void WindowDriver::openPort(const QString &portName) const
{
    if (portList()->findText(portName) < 0)
        portList()->addItem(portName);
    portList()->setCurrentText(portName);
    openButton()->click();
}

void WindowDriver::closePort() const
{
    if (portOpen())
        openButton()->click();
}

bool WindowDriver::portOpen() const
{
    return openButton()->text() == ToolText::closePortButton();
}

bool WindowDriver::jobButtonsEnabled() const
{
    return std::all_of(jobButtons.begin(), jobButtons.end() - 1,
                       [this](const QString &text) { return button(text)->isEnabled(); });
}

bool WindowDriver::jobButtonsDisabled() const
{
    return std::none_of(jobButtons.begin(), jobButtons.end(),
                        [this](const QString &text) { return button(text)->isEnabled(); });
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

} // namespace TestSupport
