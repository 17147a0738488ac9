#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QProcess;

namespace TestSupport {

// A PostgreSQL 15 server of the test's own: a fresh cluster in a temporary
// folder, on a free port of 127.0.0.1, gone with the object. The server runs as
// a child of the test and gets SIGINT (a fast shutdown) when the thread that
// started it dies, so a crashed test leaves no server behind; its folder stays
// in the temporary folder until the next test run removes it.
// Roles: "lorta" owns the database "lorta"; "lorta_guarded" logs in over TCP
// with guardedPassword() only; the superuser "postgres" answers exec().
// Run as root, the server runs as nobody:nogroup (initdb and postgres refuse
// root).
class ThrowawayPostgres
{
public:
    ThrowawayPostgres();
    ~ThrowawayPostgres(); // stops the server and removes its folder

    // The first start makes the cluster, the roles and the database; a later
    // one starts the same data on the same port. Returns once the server takes
    // connections. When PostgreSQL 15 is missing, the error starts with
    // "PostgreSQL 15 is not installed", for a QSKIP.
    bool start(QString *error);
    void stop(); // a fast shutdown: sessions are cut, committed data is kept
    bool isRunning() const;

    int port() const { return mPort; }
    QString conninfo(const QString &role = QStringLiteral("lorta"),
                     const QString &database = QStringLiteral("lorta")) const;
    QString guardedPassword() const { return mGuardedPassword; }
    static QString superuser() { return QStringLiteral("postgres"); }
    // What the server wrote to its log, to tell why a test failed.
    QString log() const;

    // Runs the SQL (one statement or several) as the superuser in the database
    // "lorta" and returns the last statement's rows as text, NULL as a null
    // QString. An error goes to *error, or to a warning when error is null.
    QList<QStringList> exec(const QString &sql, QString *error = nullptr) const;
    // The first value of the first row, or a null QString.
    QString execValue(const QString &sql, QString *error = nullptr) const;

private:
    bool findBinaries(QString *error);
    bool prepareFolder(QString *error);
    bool initCluster(QString *error);
    bool launch(QString *error);
    bool waitReady(QString *error);
    bool createRoles(QString *error);
    QStringList asServerUser(const QString &program, const QStringList &args) const;
    QList<QStringList> execIn(const QString &database, const QString &sql, QString *error) const;
    QString dataPath() const;
    QString logPath() const;

    QString mBinDir;
    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<QProcess> mServer;
    QString mGuardedPassword;
    int mPort = 0;
    bool mInitialized = false;
    bool mAsNobody = false;
    unsigned mUidServer = 0;
    unsigned mGidServer = 0;
};

} // namespace TestSupport
