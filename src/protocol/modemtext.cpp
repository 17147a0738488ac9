#include "modemtext.h"

namespace {
QString escapeOf(QChar c)
{
    switch (c.unicode()) {
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    case '\t':
        return QStringLiteral("\\t");
    default:
        return QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
}
} // namespace

QString printableText(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7f && code < 0xa0);
        result += control ? escapeOf(c) : QString(c);
    }
    return result;
}

QString printablePart(const QString &text, int most)
{
    const QString line = printableText(text);
    return line.size() > most ? line.left(most) + QChar(0x2026) : line;
}
