#pragma once

#include <QByteArray>
#include <QString>

// Bytes from the modem or a local file as text: UTF-8, up to the first zero byte.
inline QString textUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

// Text from outside (a modem's answer, an adapter's serial number, a port's
// name) as one line that cannot act on a terminal or a spreadsheet's line
// structure: every control character shown as an escape ("\n", "\r", "\t",
// "\x1b", and C1 codes as "\x9b").
QString printableText(const QString &text);
// The same cut to its first `most` characters, an ellipsis marking the cut:
// enough of a line from outside to tell what it was.
QString printablePart(const QString &text, int most);
