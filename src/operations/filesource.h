#pragma once

#include "settings/smallfile.h"

#include <QString>
#include <optional>

// Where the bytes of a file written into the modem come from: "settings.ini"
// from the local file of that name, every other name from the compiled-in
// resources. Tests point the local directory elsewhere; the command-line
// flasher names the settings file itself.
struct FileSource
{
    explicit FileSource(QString dir = QString(), QString prefix = QStringLiteral(":/files/"))
        : localDir(std::move(dir)), resourcePrefix(std::move(prefix))
    {
    }

    QString localDir; // empty: the working directory
    QString resourcePrefix;
    QString settingsFile; // empty: "settings.ini" in localDir
    // The settings file as read once beforehand: every modem then gets exactly
    // the bytes that were checked, whatever happens to the file meanwhile.
    std::optional<SmallFile> settingsContent;

    QString pathFor(const QByteArray &name) const;
    static bool isLocalSettings(const QByteArray &name);
};
