#include "logcomposer.h"

#include "protocol/tooltexts.h"

namespace {
constexpr int stampLength = 15; // "hh:mm:ss.zzz : "

const QString &stopMarker()
{
    static const QString text = QStringLiteral("Stop Script: ");
    return text;
}

// The text cut to the limit, with an ellipsis where something was cut; a
// character of two UTF-16 units is never split.
QString cutReceived(const QString &text)
{
    if (text.size() <= LogComposer::maxReceivedCharacters)
        return text;
    int keep = LogComposer::maxReceivedCharacters;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}
} // namespace

LogComposer::LogComposer() = default;

QString LogComposer::scriptVersion(const QString &text)
{
    static const QRegularExpression version(QStringLiteral("[v]\\d{1}\\.\\d{2}"));
    return version.match(text).captured(0);
}

QString LogComposer::stamp(const QDateTime &now)
{
    return now.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral(" : ");
}

QString LogComposer::withoutStamp(const QString &lastPaneLine)
{
    return lastPaneLine.size() > stampLength ? lastPaneLine.mid(stampLength) : lastPaneLine;
}

QString LogComposer::compose(const QDateTime &now, const QString &text, MessageKind kind,
                             bool presenceCheck, bool connected, const QString &lastPaneLine) const
{
    QString line = stamp(now);
    const int bare = line.size();
    if (kind == MessageKind::Status) {
        line += text;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    } else if (kind == MessageKind::Received && presenceCheck) {
        line += receivedBody(text, connected, withoutStamp(lastPaneLine));
    }
    return line.size() > bare ? line : QString();
}

QString LogComposer::receivedBody(const QString &text, bool connected,
                                  const QString &lastLine) const
{
    const bool stopped = text.contains(stopMarker());
    if (text.contains(QStringLiteral("OK")) && !stopped) {
        if (lastLine == ToolText::connected() || !connected)
            return QString();
        return ToolText::connected();
    }
    const QString version = scriptVersion(text);
    if (!version.isEmpty())
        return ToolText::scriptRunningPrefix() + version;
    if (!stopped) {
        if (lastLine == ToolText::noConnection() ||
            lastLine.startsWith(ToolText::scriptRunningPrefix()))
            return QString();
        return ToolText::noConnection();
    }
    // The reason as one clean line: no line ends, no trailing "OK" of the answer.
    QString reason = text.mid(text.indexOf(stopMarker()) + stopMarker().size());
    reason.remove(QLatin1Char('\r'));
    reason.remove(QLatin1Char('\n'));
    reason.remove(QStringLiteral("OK"));
    return ToolText::scriptStopPrefix() + cutReceived(reason);
}
