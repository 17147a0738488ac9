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
} // namespace

std::optional<QString> ImeiParser::parse(const QByteArray &answer)
{
    // Text after a zero byte is never read, as everywhere the modem's text is parsed.
    const int zero = answer.indexOf('\0');
    const QByteArray text = zero < 0 ? answer : answer.left(zero);
    const QList<QByteArray> lines = QByteArray(text).replace('\r', '\n').split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.toUpper().startsWith("+CGSN:"))
            line = line.mid(6).trimmed();
        if (line.size() >= 2 && line.startsWith('"') && line.endsWith('"'))
            line = line.mid(1, line.size() - 2);
        if (line.size() == imeiLength && allDigits(line) && luhnValid(line))
            return QString::fromLatin1(line);
    }
    return std::nullopt;
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
