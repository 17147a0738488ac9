#pragma once

#include "line/watchoptions.h"

#include <QStringList>
#include <optional>

// The command line of "lorta-flash-cli watch", checked before any port is touched.
struct WatchArguments
{
    WatchOptions options;
    bool settingsGiven = false;
    bool json = false;

    // The arguments after "watch"; nullopt with a one-line reason for a usage error.
    static std::optional<WatchArguments> parse(const QStringList &arguments, QString *error);
    static QString usage();
};
