#include "imeiparser.h"

#include <QList>

namespace {
constexpr int imeiLength = 15;

bool allDigits(const QByteArray &text)
{
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return !text.isEmpty();
}

// The IMEI of one trimmed line: "+CGSN:" and quotes around it allowed.
std::optional<QString> imeiOfLine(QByteArray line)
{
    if (line.toUpper().startsWith("+CGSN:"))
        line = line.mid(6).trimmed();
    if (line.size() >= 2 && line.startsWith('"') && line.endsWith('"'))
        line = line.mid(1, line.size() - 2);
    if (line.size() == imeiLength && allDigits(line) && ImeiParser::luhnValid(line))
        return QString::fromLatin1(line);
    return std::nullopt;
}

bool hasLongNumber(const QByteArray &line)
{
    int run = 0;
    for (const char c : line) {
        run = c >= '0' && c <= '9' ? run + 1 : 0;
        if (run >= imeiLength)
            return true;
    }
    return false;
}
} // namespace

std::optional<QString> ImeiParser::parse(const QByteArray &answer)
{
    // Text after a zero byte is never read, as everywhere the modem's text is parsed.
    const int zero = answer.indexOf('\0');
    const QByteArray text = zero < 0 ? answer : answer.left(zero);
    QList<QByteArray> lines;
    for (const QByteArray &line : QByteArray(text).replace('\r', '\n').split('\n')) {
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    }
    // A failed answer names no modem, whatever digits it holds.
    if (lines.isEmpty() || lines.takeLast() != "OK")
        return std::nullopt;
    std::optional<QString> found;
    for (const QByteArray &line : qAsConst(lines)) {
        if (line.toLower() == "at+cgsn")
            continue; // the echo
        const std::optional<QString> imei = imeiOfLine(line);
        if (imei && found)
            return std::nullopt; // two modems' worth: neither can be trusted
        if (imei)
            found = imei;
        else if (hasLongNumber(line))
            return std::nullopt;
    }
    return found;
}

bool ImeiParser::luhnValid(const QByteArray &digits)
{
    if (!allDigits(digits))
        return false;
    int sum = 0;
    bool doubled = false;
    for (int i = digits.size() - 1; i >= 0; --i) {
        int digit = digits.at(i) - '0';
        if (doubled) {
            digit *= 2;
            if (digit > 9)
                digit -= 9;
        }
        sum += digit;
        doubled = !doubled;
    }
    return sum % 10 == 0;
}
