#pragma once

#include <QString>

// The simulated modem's end of a pseudo-terminal pair. The sim keeps its own slave
// descriptor open, so the master never reports a hang-up while no client has the port.
// On Linux it also watches the slave device, to learn whether a client has the port open.
class PtyEndpoint
{
public:
    PtyEndpoint() = default;
    ~PtyEndpoint();
    PtyEndpoint(const PtyEndpoint &) = delete;
    PtyEndpoint &operator=(const PtyEndpoint &) = delete;

    bool open(QString *error);
    void close();
    // Hang up: closes the master, the client's side of the line goes dead.
    void closeMaster();

    int master() const { return mMaster; }
    int openWatch() const { return mWatch; }
    QString slavePath() const { return mSlavePath; }

    // Whether some client has the port open, from the open and close events seen so
    // far; always true where the device cannot be watched.
    bool clientPresent();
    // Throws away the bytes on their way to a client that is gone.
    void discardUnread();

private:
    int mMaster = -1;
    int mSlave = -1;
    int mWatch = -1;
    int mClients = 0;
    QString mSlavePath;
};
