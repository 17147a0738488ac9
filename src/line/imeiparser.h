#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Reads the IMEI from the modem's answer to "at+cgsn": one line of exactly
// fifteen digits whose last digit is the Luhn check digit. The echo of the
// command, "OK" and a "+CGSN:" prefix are allowed around it; anything else
// (no digits, 14 or 16 of them, a wrong check digit) yields no IMEI, since a
// wrong one in the journal is worse than none.
class ImeiParser
{
public:
    static std::optional<QString> parse(const QByteArray &answer);
    // Whether the last digit of an all-digit string is its Luhn check digit.
    static bool luhnValid(const QByteArray &digits);
};
