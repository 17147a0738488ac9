#pragma once

// Helpers shared by the fuzz targets: the input format and the checks that stop
// a run when the code under test breaks one of its rules.

#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace FuzzCheck {

// Separates the pieces of one input (answers, or a text and a line): the ASCII
// record separator, a byte no modem answer or settings line is expected to carry.
constexpr char pieceSeparator = '\x1e';

// Stops the run; libFuzzer keeps the input that got here as a crash.
inline void require(bool holds, const char *rule)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

inline QList<QByteArray> pieces(const QByteArray &input)
{
    return input.split(pieceSeparator);
}

// A command as the modem must see it: ends in "\r" and holds no other control
// byte, so it can never be taken for two commands or carry a stray line end.
inline bool isCleanCommand(const QByteArray &command)
{
    if (command.isEmpty() || command.back() != '\r')
        return false;
    for (int i = 0; i + 1 < command.size(); ++i) {
        const auto byte = static_cast<unsigned char>(command.at(i));
        if (byte < 32 || byte == 127)
            return false;
    }
    return true;
}

} // namespace FuzzCheck
