#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Reads the IMEI from the modem's answer to "at+cgsn": an answer that ends in
// "OK" and holds exactly one line of fifteen digits whose last digit is the
// Luhn check digit. The echo of the command and a "+CGSN:" prefix or quotes
// are allowed around it; anything else (an answer that failed, no digits, 14
// or 16 of them, a wrong check digit, a second number) yields no IMEI, since a
// wrong one in the journal is worse than none.
class ImeiParser
{
public:
    static std::optional<QString> parse(const QByteArray &answer);
    // Whether the last digit of an all-digit string is its Luhn check digit.
    static bool luhnValid(const QByteArray &digits);
};
