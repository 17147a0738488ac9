#include "throwawaypostgres.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtGlobal>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TestSupport {

namespace {
const QString folderPrefix = QStringLiteral("lorta-pg-");
const QString ownerFile = QStringLiteral("owner.pid");
constexpr int readyLimitMs = 60000;
constexpr int initLimitMs = 120000;
constexpr int portAttempts = 5;

// The server gets SIGINT (a fast shutdown) when the thread that started it
// ends, a crash of the test included. Changing the user clears the setting,
// so under setpriv its --pdeathsig sets it again.
class ServerProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
        if (::getppid() != mParent) // the parent died before the line above
            ::_exit(1);
    }

private:
    pid_t mParent = ::getpid();
};

bool alive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
}

qint64 firstNumber(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().trimmed().toLongLong();
}

// Folders of earlier runs that crashed: their test and their server are gone.
void removeStaleFolders()
{
    const QDir temp(QDir::tempPath());
    for (const QString &name :
         temp.entryList({folderPrefix + '*'}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = temp.filePath(name);
        const qint64 owner = firstNumber(path + '/' + ownerFile);
        if (owner == 0 || alive(owner) || alive(firstNumber(path + "/data/postmaster.pid")))
            continue;
        QDir(path).removeRecursively();
    }
}

// A port nobody listens on now. Another process may take it before the server
// binds it; launch() then tries another.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A conninfo value, quoted when it holds a space, a quote or a backslash.
QString quoted(QString value)
{
    if (!value.contains(QRegExp(QStringLiteral("[\\s'\\\\]"))) && !value.isEmpty())
        return value;
    value.replace('\\', QStringLiteral("\\\\")).replace('\'', QStringLiteral("\\'"));
    return '\'' + value + '\'';
}

// Every folder above the path must let nobody through, or the server cannot
// reach its data.
bool traversable(const QString &path, QString *failing)
{
    for (QDir dir(QFileInfo(path).absolutePath());; dir.cdUp()) {
        struct stat info;
        if (::stat(QFile::encodeName(dir.absolutePath()).constData(), &info) != 0 ||
            !(info.st_mode & S_IXOTH)) {
            *failing = dir.absolutePath();
            return false;
        }
        if (dir.isRoot())
            return true;
    }
}

bool writeFile(const QString &path, const QByteArray &content, QIODevice::OpenMode mode)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | mode) && file.write(content) == content.size();
}
} // namespace

ThrowawayPostgres::ThrowawayPostgres()
{
    mGuardedPassword = QString::number(QRandomGenerator::system()->generate64(), 36) + "-Gd";
}

ThrowawayPostgres::~ThrowawayPostgres()
{
    stop();
}

bool ThrowawayPostgres::start(QString *error)
{
    if (isRunning())
        return true;
    if (mInitialized)
        return launch(error) && waitReady(error);
    if (!findBinaries(error) || !prepareFolder(error) || !initCluster(error))
        return false;
    for (int attempt = 1;; ++attempt) {
        mPort = freePort();
        if (launch(error) && waitReady(error))
            break;
        // Only a port taken in the meantime is worth another try.
        if (attempt == portAttempts || !log().contains(QStringLiteral("could not bind")))
            return false;
    }
    mInitialized = createRoles(error);
    return mInitialized;
}

bool ThrowawayPostgres::findBinaries(QString *error)
{
    mBinDir = qEnvironmentVariable("LORTA_PG_BIN", QStringLiteral("/usr/lib/postgresql/15/bin"));
    for (const QString &name : {QStringLiteral("initdb"), QStringLiteral("postgres")}) {
        if (!QFileInfo(mBinDir + '/' + name).isExecutable()) {
            *error = QStringLiteral("PostgreSQL 15 is not installed (Debian's postgresql-15): "
                                    "no %1 in %2 (LORTA_PG_BIN names another folder)")
                         .arg(name, mBinDir);
            return false;
        }
    }
    mAsNobody = ::geteuid() == 0;
    if (!mAsNobody)
        return true;
    const passwd *user = ::getpwnam("nobody");
    const group *users = ::getgrnam("nogroup");
    if (!user || !users || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        *error = QStringLiteral("running as root needs the user nobody, the group nogroup and "
                                "setpriv (util-linux) to run PostgreSQL, which refuses root");
        return false;
    }
    mUidServer = user->pw_uid;
    mGidServer = users->gr_gid;
    return true;
}

bool ThrowawayPostgres::prepareFolder(QString *error)
{
    removeStaleFolders();
    mDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + '/' + folderPrefix + "XXXXXX");
    if (!mDir->isValid()) {
        *error = QStringLiteral("no temporary folder for PostgreSQL: ") + mDir->errorString();
        return false;
    }
    if (!writeFile(mDir->filePath(ownerFile), QByteArray::number(::getpid()),
                   QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write in ") + mDir->path();
        return false;
    }
    if (!mAsNobody)
        return true;
    QString failing;
    if (!traversable(mDir->path(), &failing)) {
        *error = QStringLiteral("the user nobody cannot pass through %1 to the PostgreSQL "
                                "folder; set TMPDIR to a folder it can")
                     .arg(failing);
        return false;
    }
    if (::chown(QFile::encodeName(mDir->path()).constData(), mUidServer, mGidServer) != 0) {
        *error = QStringLiteral("cannot hand %1 to nobody: %2")
                     .arg(mDir->path(), QString::fromLocal8Bit(::strerror(errno)));
        return false;
    }
    return true;
}

QStringList ThrowawayPostgres::asServerUser(const QString &program, const QStringList &args) const
{
    if (!mAsNobody)
        return QStringList{program} + args;
    return QStringList{QStringLiteral("setpriv"),
                       QStringLiteral("--reuid=%1").arg(mUidServer),
                       QStringLiteral("--regid=%1").arg(mGidServer),
                       QStringLiteral("--clear-groups"),
                       QStringLiteral("--pdeathsig=INT"),
                       QStringLiteral("--"),
                       program} +
           args;
}

bool ThrowawayPostgres::initCluster(QString *error)
{
    // --no-sync: the folder is thrown away, and syncing is most of initdb's time.
    const QStringList command =
        asServerUser(mBinDir + "/initdb",
                     {"-D", dataPath(), "-U", superuser(), "--encoding=UTF8", "--locale=C",
                      "--auth-local=trust", "--auth-host=trust", "--no-sync", "--no-instructions"});
    QProcess initdb;
    initdb.setWorkingDirectory(mDir->path());
    initdb.setProcessChannelMode(QProcess::MergedChannels);
    initdb.start(command.first(), command.mid(1));
    if (!initdb.waitForFinished(initLimitMs) || initdb.exitStatus() != QProcess::NormalExit ||
        initdb.exitCode() != 0) {
        *error = QStringLiteral("initdb failed: ") + QString::fromLocal8Bit(initdb.readAll()) +
                 initdb.errorString();
        return false;
    }
    // The first matching line wins: the guarded role needs its password over
    // TCP, every other role is trusted, and nothing listens beyond 127.0.0.1.
    const QByteArray hba = "local all all trust\n"
                           "host all lorta_guarded 127.0.0.1/32 scram-sha-256\n"
                           "host all all 127.0.0.1/32 trust\n";
    // Durability off: a throwaway cluster gains only slowness from it.
    const QByteArray conf = "\nlisten_addresses = '127.0.0.1'\n"
                            "unix_socket_directories = '" +
                            QFile::encodeName(dataPath()).replace('\'', "''") +
                            "'\n"
                            "fsync = off\n"
                            "synchronous_commit = off\n"
                            "full_page_writes = off\n"
                            "password_encryption = 'scram-sha-256'\n"
                            "shared_buffers = 32MB\n"
                            "jit = off\n";
    if (!writeFile(dataPath() + "/pg_hba.conf", hba, QIODevice::Truncate) ||
        !writeFile(dataPath() + "/postgresql.conf", conf, QIODevice::Append)) {
        *error = QStringLiteral("cannot write the configuration in ") + dataPath();
        return false;
    }
    return true;
}

bool ThrowawayPostgres::launch(QString *error)
{
    // The port on the command line, so a retry on another needs no edit.
    const QStringList command =
        asServerUser(mBinDir + "/postgres", {"-D", dataPath(), "-p", QString::number(mPort)});
    mServer = std::make_unique<ServerProcess>();
    mServer->setWorkingDirectory(mDir->path());
    mServer->setStandardOutputFile(logPath(), QIODevice::Append);
    mServer->setStandardErrorFile(logPath(), QIODevice::Append);
    mServer->start(command.first(), command.mid(1));
    if (!mServer->waitForStarted()) {
        *error = QStringLiteral("PostgreSQL did not start: ") + mServer->errorString();
        return false;
    }
    return true;
}

// Ready once it answers on its own socket, which it opens after the TCP one.
bool ThrowawayPostgres::waitReady(QString *error)
{
    const QByteArray ping = QStringLiteral("host=%1 port=%2 dbname=postgres user=%3")
                                .arg(quoted(dataPath()))
                                .arg(mPort)
                                .arg(superuser())
                                .toUtf8();
    const QDeadlineTimer deadline(readyLimitMs);
    while (PQping(ping.constData()) != PQPING_OK) {
        if (mServer->waitForFinished(20)) {
            *error = QStringLiteral("PostgreSQL stopped while starting:\n") + log().right(2000);
            return false;
        }
        if (deadline.hasExpired()) {
            *error = QStringLiteral("PostgreSQL took no connection in %1 ms:\n").arg(readyLimitMs) +
                     log().right(2000);
            stop();
            return false;
        }
    }
    return true;
}

bool ThrowawayPostgres::createRoles(QString *error)
{
    // CREATE DATABASE runs on its own: it refuses a transaction block, which
    // several statements in one query are.
    const QStringList statements{"CREATE ROLE lorta LOGIN NOSUPERUSER",
                                 "CREATE ROLE lorta_guarded LOGIN NOSUPERUSER PASSWORD '" +
                                     mGuardedPassword + "'",
                                 "CREATE DATABASE lorta OWNER lorta"};
    for (const QString &sql : statements) {
        QString failure;
        execIn(QStringLiteral("postgres"), sql, &failure);
        if (!failure.isEmpty()) {
            *error = QStringLiteral("setting up the roles failed: ") + failure;
            return false;
        }
    }
    return true;
}

void ThrowawayPostgres::stop()
{
    if (!mServer || mServer->state() == QProcess::NotRunning)
        return;
    // SIGINT is a fast shutdown (pg_ctl -m fast): it does not wait for the
    // sessions a test left open, as SIGTERM would.
    const auto pid = pid_t(mServer->processId());
    ::kill(pid, SIGINT);
    if (!mServer->waitForFinished(30000)) {
        ::kill(pid, SIGQUIT);
        if (!mServer->waitForFinished(5000))
            mServer->kill();
        mServer->waitForFinished(5000);
    }
}

bool ThrowawayPostgres::isRunning() const
{
    return mServer && mServer->state() != QProcess::NotRunning;
}

QString ThrowawayPostgres::conninfo(const QString &role, const QString &database) const
{
    return QStringLiteral("host=127.0.0.1 port=%1 dbname=%2 user=%3")
        .arg(mPort)
        .arg(quoted(database), quoted(role));
}

QString ThrowawayPostgres::log() const
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QList<QStringList> ThrowawayPostgres::exec(const QString &sql, QString *error) const
{
    return execIn(QStringLiteral("lorta"), sql, error);
}

QString ThrowawayPostgres::execValue(const QString &sql, QString *error) const
{
    const QList<QStringList> rows = exec(sql, error);
    return rows.isEmpty() || rows.first().isEmpty() ? QString() : rows.first().first();
}

QList<QStringList> ThrowawayPostgres::execIn(const QString &database, const QString &sql,
                                             QString *error) const
{
    if (error)
        error->clear();
    const QByteArray info =
        QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 application_name=lorta_testkit "
                       "client_encoding=UTF8")
            .arg(quoted(dataPath()))
            .arg(mPort)
            .arg(quoted(database), superuser())
            .toUtf8();
    PGconn *connection = PQconnectdb(info.constData());
    QList<QStringList> rows;
    QString failure;
    if (PQstatus(connection) != CONNECTION_OK) {
        failure = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
    } else {
        PGresult *result = PQexec(connection, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && status != PGRES_EMPTY_QUERY)
            failure = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        for (int row = 0; row < PQntuples(result); ++row) {
            QStringList values;
            for (int column = 0; column < PQnfields(result); ++column)
                values.append(PQgetisnull(result, row, column)
                                  ? QString()
                                  : QString::fromUtf8(PQgetvalue(result, row, column)));
            rows.append(values);
        }
        PQclear(result);
    }
    PQfinish(connection);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        else
            qWarning("the test's SQL failed: %s\n%s", qPrintable(failure), qPrintable(sql));
    }
    return rows;
}

QString ThrowawayPostgres::dataPath() const
{
    return mDir ? mDir->filePath(QStringLiteral("data")) : QString();
}

QString ThrowawayPostgres::logPath() const
{
    return mDir ? mDir->filePath(QStringLiteral("server.log")) : QString();
}

} // namespace TestSupport
