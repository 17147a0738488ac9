#pragma once

#include "pglink.h"

#include <QStringList>
#include <functional>

class FleetConnection;
class QObject;

// The tool's own tables and views on the floor's server, made and upgraded by
// the tool itself. The version is kept in the server; each upgrade runs under
// one advisory lock, so benches started together upgrade it once. A schema
// newer than this tool knows is refused before anything is written.
class FleetSchema
{
public:
    // The version this tool writes and reads.
    static constexpr int version = 1;
    using Done = std::function<void(const QString &error)>; // empty: ready

    // Makes sure the server has this version; done with an empty error then.
    static void ensure(FleetConnection *connection, QObject *context, Done done);
    // The statements that bring a schema of version from to the next one.
    static QList<PgLink::Statement> upgradeFrom(int from);
    // "Схема базы … новее …", for a server of a newer tool.
    static QString newerText(int found);
};
