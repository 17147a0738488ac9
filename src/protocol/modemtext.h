#pragma once

#include <QByteArray>
#include <QString>

// Bytes from the modem or a local file as text: UTF-8, up to the first zero byte.
inline QString textUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}
