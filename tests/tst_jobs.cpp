// The jobs end to end: the real window and worker against the simulated modem
// on a pseudo-terminal, with the modem's silence after its restart. Each job
// succeeds once (the flash does in the demo test), and each kind of modem
// fault strikes once, at an early step of a job or in the idle presence check;
// the step machines' own tests cover every other step. A failed job ends in its
// box, sends nothing more and leaves the local files alone; after any job the
// presence check takes over again. The window and the modem run on the fast
// timing.
#include "modalcloser.h"
#include "modembench.h"
#include "modemsim.h"
#include "protocol/tooltexts.h"
#include "testtiming.h"
#include "windowdriver.h"

#include <QtTest>
#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(ModemFault)

using TestSupport::readFile;

namespace {
constexpr int linkTimeout = 15000;
constexpr int jobTimeout = 60000;
const QString connectedLine = ToolText::connected();
const QString noLinkLine = ToolText::noConnection();
const QByteArray localSettings = "DEST_IP::10.0.0.1::IP адрес сервера\r\n"
                                 "DEST_PORT::5000::Порт сервера\r\n"
                                 "APN::internet::Точка входа GPRS";
const QByteArray modemSettings = "CRYPT_DATA::1::Шифровать данные (1 - вкл., 0 - выкл.)\r\n"
                                 "APN::modem.apn::Точка входа GPRS";
const QByteArray mainScript(300, 'm');
const QByteArray configScript(100, 'c');
} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void jobs_data();
    void jobs();

private:
    QString trace() const { return TestSupport::trace(*mSim, *mUi, *mCloser); }

    std::unique_ptr<TestSupport::ModemBench> mBench;
    ModemSim *mSim = nullptr;
    TestSupport::WindowDriver *mUi = nullptr;
    std::unique_ptr<TestSupport::ModalCloser> mCloser;
};

void TestJobs::init()
{
    mBench = std::make_unique<TestSupport::ModemBench>(TestSupport::fastScale);
    mSim = &mBench->sim();
    mSim->setPaced(false);
    mSim->setRestartSilenceMs(500);
    mSim->setFile("main.pyo", mainScript);
    mSim->setFile("config.pyo", configScript);
    mSim->setFile("settings.ini", modemSettings);
    QVERIFY(TestSupport::writeFile(QStringLiteral("settings.ini"), localSettings));
    QString error;
    QVERIFY2(mBench->start(&error), qPrintable(error));
    QVERIFY(TestSupport::writeFile(QStringLiteral("setting"), mSim->portName().toUtf8()));
    mUi = mBench->ui();
    mCloser = std::make_unique<TestSupport::ModalCloser>();
}

void TestJobs::cleanup()
{
    mCloser.reset();
    mBench.reset();
}

void TestJobs::jobs_data()
{
    QTest::addColumn<QString>("button");   // empty: the idle presence check
    QTest::addColumn<ModemFault>("fault"); // empty prefix: none
    QTest::addColumn<QString>("box");      // "title|text"; empty: no box may show
    QTest::addColumn<QByteArrayList>("modemFiles");
    QTest::addColumn<QByteArray>("modemSettingsAfter");
    QTest::addColumn<QByteArray>("localSettingsAfter");
    QTest::addColumn<QByteArray>("modemSettingsBefore"); // null: modemSettings
    using F = ModemFault;
    const F none;
    const QByteArrayList all{"main.pyo", "config.pyo", "settings.ini"};
    const QByteArray local = localSettings;
    const QByteArray modem = modemSettings;
    QTest::newRow("presence check: silence") << QString() << F::onPrefix("ate0", F::Silence, 3)
                                             << QString() << all << modem << local << QByteArray();
    QTest::newRow("flash: half answer")
        << ToolText::flashButton() << F::onPrefix("at#escript=\"\"", F::HalfAnswer)
        << ToolText::failureTitle() + QLatin1Char('|') + ToolText::flashFailed() << all << modem
        << local << QByteArray();
    QTest::newRow("load settings")
        << ToolText::loadButton() << none
        << ToolText::successTitle() + QLatin1Char('|') + ToolText::loaded() << all << local << local
        << QByteArray();
    QTest::newRow("load settings: error")
        << ToolText::loadButton() << F::onPrefix("at#startmodescr=0", F::Error)
        << ToolText::failureTitle() + QLatin1Char('|') + ToolText::loadFailed() << all << modem
        << local << QByteArray();
    QTest::newRow("load settings: stall in the file's bytes")
        << ToolText::loadButton()
        << F::onPrefix("at#wscript=\"settings.ini\"", F::DataStall, 1).afterDataBytes(16)
        << ToolText::failureTitle() + QLatin1Char('|') + ToolText::loadFailed()
        << QByteArrayList{"main.pyo", "config.pyo"} << QByteArray() << local << QByteArray();
    QTest::newRow("read settings")
        << ToolText::readButton() << none << ToolText::settingsTitle() + QLatin1Char('|') << all
        << modem << modem << QByteArray();
    QTest::newRow("read settings: hang-up")
        << ToolText::readButton() << F::onPrefix("at#rscript", F::HangUp)
        << ToolText::failureTitle() + QLatin1Char('|') + ToolText::readFailed() << all << modem
        << local << QByteArray();
    // A file in another encoding: stored, it would go back into the modem damaged.
    const QByteArray windows1251 = "APN::\xe8\xed\xf2\xe5\xf0\xed\xe5\xf2::Точка входа GPRS";
    QTest::newRow("read settings: not a settings file")
        << ToolText::readButton() << none
        << ToolText::failureTitle() + QLatin1Char('|') + ToolText::readFailed() << all
        << windows1251 << local << windows1251;
    QTest::newRow("clear") << ToolText::clearButton() << none
                           << ToolText::successTitle() + QLatin1Char('|') + ToolText::cleared()
                           << QByteArrayList() << QByteArray() << local << QByteArray();
    QTest::newRow("clear: garbage with zero bytes")
        << ToolText::clearButton() << F::onPrefix("at#lscript", F::Garbage)
        << ToolText::failureTitle() + QLatin1Char('|') + ToolText::clearFailed() << all << modem
        << local << QByteArray();
}

void TestJobs::jobs()
{
    QFETCH(QString, button);
    QFETCH(ModemFault, fault);
    QFETCH(QString, box);
    QFETCH(QByteArrayList, modemFiles);
    QFETCH(QByteArray, modemSettingsBefore);
    if (!modemSettingsBefore.isNull())
        mSim->setFile("settings.ini", modemSettingsBefore);
    mUi->openButton()->click();
    QTRY_VERIFY2_WITH_TIMEOUT(mUi->jobButtonsEnabled(), qPrintable(trace()), linkTimeout);
    const bool hangUp = fault.action == ModemFault::HangUp;
    if (!fault.prefix.isEmpty())
        mSim->addFault(fault);

    if (button.isEmpty()) {
        // Reported once while silent; five good answers in a row bring the modem back.
        QTRY_VERIFY2_WITH_TIMEOUT(mUi->jobButtonsDisabled(), qPrintable(trace()), linkTimeout);
        QTRY_VERIFY2_WITH_TIMEOUT(mUi->jobButtonsEnabled(), qPrintable(trace()), linkTimeout);
        QCOMPARE(mUi->countLogLines(noLinkLine), 1);
        QCOMPARE(mUi->countLogLines(connectedLine), 2);
    } else {
        mUi->button(button)->click();
        QTRY_VERIFY2_WITH_TIMEOUT(!mCloser->seen().isEmpty(), qPrintable(trace()), jobTimeout);
        QVERIFY(!mUi->progress()->isVisible());
        // The presence check takes over: it asks again, or on a dead line reports the modem gone.
        const int commandsAtBox = mSim->commands().size();
        if (hangUp)
            QTRY_VERIFY2_WITH_TIMEOUT(mUi->countLogLines(noLinkLine) == 1, qPrintable(trace()),
                                      linkTimeout);
        else
            QTRY_VERIFY2_WITH_TIMEOUT(mSim->commands().size() > commandsAtBox, qPrintable(trace()),
                                      linkTimeout);
        if (!fault.prefix.isEmpty()) {
            const QList<QByteArray> sent = mSim->commands();
            const auto faulted = std::find_if(sent.begin(), sent.end(), [&](const QByteArray &c) {
                return c.startsWith(fault.prefix);
            });
            QVERIFY2(faulted != sent.end(), qPrintable(trace()));
            QVERIFY2(std::all_of(faulted + 1, sent.end(),
                                 [](const QByteArray &c) { return c == "ate0"; }),
                     qPrintable(trace()));
        }
    }
    QCOMPARE(mCloser->seen(), box.isEmpty() ? QStringList() : QStringList{box});
    QByteArrayList names;
    for (const auto &file : mSim->files())
        names << file.first;
    QCOMPARE(names, modemFiles);
    if (modemFiles.contains("main.pyo"))
        QVERIFY(mSim->file("main.pyo") == mainScript && mSim->file("config.pyo") == configScript);
    QTEST(mSim->file("settings.ini"), "modemSettingsAfter");
    QTEST(readFile(QStringLiteral("settings.ini")), "localSettingsAfter");
    QCOMPARE(readFile(QStringLiteral("setting")), mSim->portName().toUtf8());
    // Only a load that wrote the settings starts the script again.
    QCOMPARE(mSim->scriptRunning(), box.startsWith(QStringLiteral("Сообщение|Загрузка")));
}

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
