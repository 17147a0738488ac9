#pragma once

#include <QString>

// Where the bytes of a file written into the modem come from: "settings.ini"
// from the local file of that name, every other name from the compiled-in
// resources. Tests point the local directory elsewhere.
struct FileSource
{
    QString localDir;                                 // empty: the working directory
    QString resourcePrefix = QStringLiteral(":/files/");

    QString pathFor(const QByteArray &name) const;
    static bool isLocalSettings(const QByteArray &name);
};
