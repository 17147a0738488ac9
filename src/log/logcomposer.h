#pragma once

#include <QDateTime>
#include <QRegularExpression>
#include <QString>

// The three kinds of log message.
enum class MessageKind
{
    Status = 0,
    Sent = 1,
    Received = 2
};
Q_DECLARE_METATYPE(MessageKind)

// Composes one line of the log pane. Program messages are shown as they are,
// commands are never shown, and the modem's output is interpreted only while
// the presence check runs: connected, no connection, running script version
// or script stop. The pane itself is the memory of what was shown last.
class LogComposer
{
public:
    // The most the modem's own text may add to one line; the rest is cut and
    // marked with an ellipsis, so a line without end cannot grow the pane.
    static constexpr int maxReceivedCharacters = 1000;

    LogComposer();

    // The whole line to append, or an empty string when there is nothing to show.
    // connected: the presence check counts the modem connected (five answers
    // with "OK" in a row). lastPaneLine is the pane's last line as shown, stamp
    // included.
    QString compose(const QDateTime &now, const QString &text, MessageKind kind, bool presenceCheck,
                    bool connected, const QString &lastPaneLine) const;

    static QString stamp(const QDateTime &now);
    // The version a running script prints ("v1.08"), or an empty string.
    static QString scriptVersion(const QString &text);
    // The pane's last line without its 15-character stamp (unchanged when not longer).
    static QString withoutStamp(const QString &lastPaneLine);

private:
    QString receivedBody(const QString &text, bool connected, const QString &lastLine) const;
};
