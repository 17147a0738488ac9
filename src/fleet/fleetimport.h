#pragma once

#include <QString>
#include <functional>

class FleetConnection;
class ProvisionTable;
class QObject;

// Puts the rows of a checked provisioning table on the floor's server under a
// name, in one transaction: a new table, or rows added after the last ones of
// a table there. Rows on the server are never changed, so a row once given to
// a modem stays as it was given.
class FleetImport
{
public:
    struct Outcome
    {
        QString error; // in Russian; empty when the rows are on the server
        int rows = 0;  // rows added
        int firstRow = 0;
    };
    using Done = std::function<void(const Outcome &)>;

    // Makes sure of the schema first; done runs on the connection's thread,
    // not at all once context is gone.
    static void run(FleetConnection *connection, QObject *context, const QString &name,
                    const ProvisionTable &table, bool append, Done done);
    static QString existsText(const QString &name);
    static QString loadedText(const QString &name, int rows);
};
