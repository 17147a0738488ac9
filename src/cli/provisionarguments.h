#pragma once

#include "fleet/fleettiming.h"

#include <QStringList>
#include <optional>

class QIODevice;

// The command line of "lorta-flash-cli provision import": a provisioning
// table's file onto the floor's server under a name.
struct ProvisionArguments
{
    QString file;
    QString name;
    QString conninfo;
    bool append = false;
    bool help = false;

    // The arguments after "provision"; nullopt with a one-line reason for a usage error.
    static std::optional<ProvisionArguments> parse(const QStringList &arguments, QString *error);
    static QString usage();
};

// The whole command: the exit status (0 loaded, 1 the file or the server
// refused it, 2 a usage error). Waits for the server in an event loop of its own.
int runProvision(const QStringList &arguments, QIODevice *out, QIODevice *err,
                 const FleetTiming &timing = FleetTiming());
