#pragma once

#include <QByteArray>
#include <QStringList>
#include <optional>

// The lines of the modem's "settings.ini" from the answer to the read command,
// without the final "OK" line, ready to be stored; nullopt when the answer does
// not end in a line that is exactly "OK", or when what it holds is not a
// settings file (broken UTF-8, control characters, lines that are not three
// fields, more than the size limit): the read failed.
// Empty lines are dropped and every "<<<" is removed; a line that held only
// "<<<" therefore stays, as an empty line.
std::optional<QStringList> parseReadSettingsAnswer(const QByteArray &answer);
