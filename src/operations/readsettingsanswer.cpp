#include "readsettingsanswer.h"

#include "serial/modemtext.h"

std::optional<QStringList> parseReadSettingsAnswer(const QByteArray &answer)
{
    const QStringList parts = textUpToZero(answer).split(QStringLiteral("\r\n"));
    QStringList lines;
    for (QString part : parts) {
        // Emptiness is judged before "<<<" goes, so a line of only "<<<" is kept.
        if (part.isEmpty())
            continue;
        lines.append(part.remove(QStringLiteral("<<<")));
    }
    if (lines.isEmpty() || lines.constLast() != QLatin1String("OK"))
        return std::nullopt;
    lines.removeLast();
    return lines;
}
