#include "readsettingsanswer.h"

#include "protocol/modemtext.h"
#include "settings/settingsfile.h"

#include <QTextCodec>

namespace {

constexpr int utf8Mib = 106;

// Decoding would turn broken bytes into replacement characters silently, so
// the bytes themselves are checked.
bool isValidUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(utf8Mib)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

std::optional<QStringList> parseReadSettingsAnswer(const QByteArray &answer)
{
    const int zero = answer.indexOf('\0');
    if (!isValidUtf8(zero < 0 ? answer : answer.left(zero)))
        return std::nullopt;
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
    // Line noise or a file in another encoding must not replace a good local file.
    if (!isSettingsText(lines))
        return std::nullopt;
    return lines;
}
