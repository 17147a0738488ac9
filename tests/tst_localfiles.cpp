// The local files "settings.ini" and "setting" are read only as small regular files: every
// reader (the settings dialog, the pre-flight and the write of load and flash, the stored
// port) returns at once on a FIFO, a device or a huge file, and reads none of it.
#include "operations/filetransfer.h"
#include "operations/writejob.h"
#include "settings/portsetting.h"
#include "settings/settingsfile.h"
#include "settings/widgetsettings.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int promptMs = 1000;       // generous: a bounded read takes microseconds
constexpr int releaseAfterMs = 3000; // a reader stuck on the FIFO is freed by then
const QByteArray ok = "\r\nOK\r\n";

// Should a reader or a writer block on the FIFO (opening it waits for the other end), opens
// both ends every few seconds, which lets it through: a regression then fails on its time
// instead of hanging the test.
class FifoRelease
{
public:
    explicit FifoRelease(const QString &path) : mPath(QFile::encodeName(path))
    {
        mThread = std::thread([this] {
            std::unique_lock<std::mutex> lock(mMutex);
            while (!mDone.wait_for(lock, std::chrono::milliseconds(releaseAfterMs),
                                   [this] { return mFinished; }))
                release();
        });
    }
    ~FifoRelease()
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mFinished = true;
        }
        mDone.notify_one();
        mThread.join();
    }

private:
    void release() const
    {
        const int reader = ::open(mPath.constData(), O_RDONLY | O_NONBLOCK);
        const int writer = ::open(mPath.constData(), O_WRONLY | O_NONBLOCK);
        for (const int fd : {writer, reader}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    QByteArray mPath;
    std::mutex mMutex;
    std::condition_variable mDone;
    bool mFinished = false;
    std::thread mThread;
};

// Puts a thing of the given kind at path; the FIFO itself, when there is one, at fifo.
bool makeKind(const QString &kind, const QString &path, const QString &fifo, int bytes)
{
    const QByteArray local = QFile::encodeName(path);
    if (kind == "fifo")
        return ::mkfifo(local.constData(), 0600) == 0;
    if (kind == "link to a fifo")
        return ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 && QFile::link(fifo, path);
    if (kind == "link to /dev/zero")
        return QFile::link("/dev/zero", path);
    if (kind == "directory")
        return QDir().mkdir(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (kind == "sparse")
        return file.resize(qint64(200) << 20); // 200 MB of holes, no disk used
    const QByteArray line = "APN::net::d";
    return file.write(line.leftJustified(bytes, '#')) == bytes;
}

QString statusText(SmallFile::Status status)
{
    switch (status) {
    case SmallFile::Status::Read:
        return "read";
    case SmallFile::Status::NotFound:
        return "not found";
    case SmallFile::Status::TooLarge:
        return "too large";
    }
    return QString();
}

// Plays a load or flash job up to its listing: the text it ends with there, before any delete.
QString preflight(WriteJob::Kind kind, const QString &dir)
{
    WriteJob job(Timing(), FileSource{dir});
    job.start(kind, kind == WriteJob::Kind::Flash ? QStringList{"main.pyo", "config.pyo"}
                                                  : QStringList{"settings.ini"});
    for (int i = 0; i < 4; ++i)
        job.onAnswer(ok);
    const JobAction action = job.onAnswer("\r\n#LSCRIPT: \"main.pyo\",10\r\n" + ok);
    return action.isEnd() ? action.text : QString::fromLatin1(action.command);
}

} // namespace

class TestLocalFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); } // a writer freed by FifoRelease
    void init() { QVERIFY(mDir.isValid() && QDir::setCurrent(mDir.path())); }
    void cleanupTestCase() { QDir::setCurrent(mOldDir); }
    void readers_data();
    void readers();

private:
    QString mOldDir = QDir::currentPath();
    QTemporaryDir mDir;
    int mCase = 0;
};

// For each kind of thing named "settings.ini" and "setting": what the bounded read gives,
// what load and flash say before they delete anything, what the dialog shows, which port the
// window selects, that a new choice is stored over a regular file only, and that the
// settings writer leaves a FIFO alone.
void TestLocalFiles::readers_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("bytes");      // of a regular file
    QTest::addColumn<QString>("status"); // of "settings.ini"
    QTest::addColumn<QString>("port");   // the stored port, empty when ignored
    const QString notFound = "not found", tooLarge = "too large";
    QTest::newRow("fifo") << "fifo" << 0 << notFound << QString();
    QTest::newRow("link to a fifo") << "link to a fifo" << 0 << notFound << QString();
    QTest::newRow("link to /dev/zero") << "link to /dev/zero" << 0 << notFound << QString();
    QTest::newRow("directory") << "directory" << 0 << notFound << QString();
    QTest::newRow("sparse 200 MB") << "sparse" << 0 << tooLarge << QString();
    QTest::newRow("one byte over the limit") << "file" << 16385 << tooLarge << QString();
    QTest::newRow("at the limit") << "file" << 16384 << "read" << QString();
    QTest::newRow("a port name past 256 bytes") << "file" << 257 << "read" << QString();
    QTest::newRow("a port name of 256 bytes")
        << "file" << 256 << "read" << QString("APN::net::d").leftJustified(256, '#');
}

void TestLocalFiles::readers()
{
    QFETCH(QString, kind);
    QFETCH(int, bytes);
    QFETCH(QString, status);
    QFETCH(QString, port);
    const QString dir = mDir.filePath(QString::number(++mCase));
    QVERIFY(QDir().mkdir(dir) && QDir::setCurrent(dir));
    const QString fifo = dir + "/fifo";
    QVERIFY(makeKind(kind, "settings.ini", fifo + "1", bytes));
    QVERIFY(makeKind(kind, "setting", fifo + "2", bytes));
    FifoRelease releaseSettings(kind == "fifo" ? "settings.ini" : fifo + "1");
    FifoRelease releasePort(kind == "fifo" ? "setting" : fifo + "2");
    QElapsedTimer clock;
    clock.start();

    const SmallFile settings = readFileBytes("settings.ini", FileSource{dir});
    QCOMPARE(statusText(settings.status), status);
    QCOMPARE(settings.bytes.size(), status == "read" ? bytes : 0);
    const QString refusal =
        status == "not found" ? "Файл settings.ini не найден" : "Файл settings.ini слишком большой";
    const QString deleteFirst = "at#dscript=\"main.pyo\"\r";
    QCOMPARE(preflight(WriteJob::Kind::LoadSettings, dir), status == "read" ? "ate0\r" : refusal);
    QCOMPARE(preflight(WriteJob::Kind::Flash, dir), status == "read" ? deleteFirst : refusal);
    QCOMPARE(readSettingsLines("settings.ini") == defaultSettings(), status != "read");
    {
        WidgetSettings dialog("settings.ini");
        const QString apn = dialog.findChild<QLineEdit *>("editApn")->text();
        QCOMPARE(apn, QString(status == "read" ? "net" : "internet"));
    }
    MainWindow window([&port] { return QStringList{"ttyA", port.isEmpty() ? "ttyB" : port}; });
    QComboBox *ports = TestSupport::WindowDriver(&window).portList();
    QCOMPARE(ports->currentText(), port.isEmpty() ? QString("ttyA") : port);
    ports->setCurrentIndex(1 - ports->currentIndex()); // stored over a regular file only
    QVERIFY2(clock.elapsed() < promptMs, qPrintable(QString::number(clock.elapsed())));
    const bool regular = kind == "file" || kind == "sparse";
    QCOMPARE(QFileInfo("setting").isFile(), regular);
    if (regular)
        QCOMPARE(readPortSetting("setting"), ports->currentText());

    if (kind.contains("fifo")) {
        QVERIFY(!writeLinesToFile("settings.ini", defaultSettings()));
        QVERIFY(QFileInfo("settings.ini").exists() && !QFileInfo("settings.ini").isFile());
    }
}

QTEST_MAIN(TestLocalFiles)
#include "tst_localfiles.moc"
