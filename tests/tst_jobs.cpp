// The four jobs end to end: the real window and worker against the simulated
// modem on a pseudo-terminal. The answer waits of the jobs are real, so a
// flash takes about half a minute.
#include "modembench.h"
#include "modemsim.h"
#include "settings/settingsfile.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <memory>

using TestSupport::ModalCloser;
using TestSupport::readFile;
using TestSupport::WindowDriver;

namespace {
constexpr int linkTimeout = 15000;
constexpr int jobTimeout = 90000;

const QByteArray modemSettings = "CRYPT_DATA::1::Шифровать данные (1 - вкл., 0 - выкл.)\r\n"
                                 "APN::modem.apn::Точка входа GPRS";
} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void flashReplacesScriptsAndKeepsSettings();
    void loadSettingsWritesTheLocalFile();
    void readSettingsStoresAndOpensTheDialog();
    void clearDeletesEveryFile();
    void flashFailsWhenTheModemFallsSilentInTheBytes();
    void closingThePortAbandonsAFlash();

private:
    void openAndConnect();
    QList<QByteArray> commandsAfter(const QByteArray &command) const;
    QString trace() const { return TestSupport::trace(*mSim, *mUi, *mCloser); }

    std::unique_ptr<TestSupport::ModemBench> mBench;
    ModemSim *mSim = nullptr;
    WindowDriver *mUi = nullptr;
    std::unique_ptr<ModalCloser> mCloser;
};

void TestJobs::init()
{
    mBench = std::make_unique<TestSupport::ModemBench>();
    QVERIFY(writeLinesToFile("settings.ini", defaultSettings()));
    mSim = &mBench->sim();
    mSim->setRestartSilenceMs(1000);
    mSim->setFile("main.pyo", QByteArray(3000, 'm'));
    mSim->setFile("config.pyo", QByteArray(500, 'c'));
    mSim->setFile("settings.ini", modemSettings);
    QString error;
    QVERIFY2(mBench->start(&error), qPrintable(error));
    mUi = mBench->ui();
    mCloser = std::make_unique<ModalCloser>();
}

void TestJobs::cleanup()
{
    mCloser.reset();
    mBench.reset();
}

void TestJobs::openAndConnect()
{
    mUi->openButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

QList<QByteArray> TestJobs::commandsAfter(const QByteArray &command) const
{
    const QList<QByteArray> all = mSim->commands();
    const int at = all.lastIndexOf(command);
    return at < 0 ? QList<QByteArray>() : all.mid(at + 1);
}

void TestJobs::flashReplacesScriptsAndKeepsSettings()
{
    openAndConnect();
    mUi->button("Прошить")->click();
    QVERIFY(mUi->jobButtonsDisabled());
    QVERIFY(mUi->progress()->isVisible());
    QTRY_VERIFY2_WITH_TIMEOUT(mSim->dataBytesReceived() > 0, qPrintable(trace()), jobTimeout);
    QCOMPARE(mUi->progress()->value(), 6);

    QTRY_COMPARE_WITH_TIMEOUT(mCloser->seen(), QStringList{"Сообщение|Модем прошит"}, jobTimeout);
    QCOMPARE(mSim->file("main.pyo"), readFile(":/files/main.pyo"));
    QCOMPARE(mSim->file("config.pyo"), readFile(":/files/config.pyo"));
    QCOMPARE(mSim->file("settings.ini"), modemSettings);
    QVERIFY(mUi->logLines().contains("Прошивка модема запущена"));
    QVERIFY(mUi->logLines().contains("Модем прошит"));

    // Back to the presence check, which now sees the started script.
    QVERIFY(!mUi->progress()->isVisible());
    QTRY_VERIFY2_WITH_TIMEOUT(mUi->logLines().contains("Выполняется скрипт: v1.08"),
                              qPrintable(trace()), linkTimeout);
}

void TestJobs::loadSettingsWritesTheLocalFile()
{
    openAndConnect();
    mUi->button("Загрузить настройки")->click();
    QTRY_COMPARE_WITH_TIMEOUT(
        mCloser->seen(), QStringList{"Сообщение|Загрузка настроек успешно завершена"}, jobTimeout);
    QCOMPARE(mSim->file("settings.ini"), readFile("settings.ini"));
    QCOMPARE(mSim->commands().count("at#dscript=\"settings.ini\""), 1);
    QVERIFY(mSim->hasFile("main.pyo"));
    QVERIFY(mUi->logLines().contains("Загрузка настроек успешно завершена"));
}

void TestJobs::readSettingsStoresAndOpensTheDialog()
{
    openAndConnect();
    mUi->button("Считать настройки")->click();
    QTRY_COMPARE_WITH_TIMEOUT(mCloser->seen(), QStringList{"Настройки модема|"}, jobTimeout);
    QCOMPARE(readFile("settings.ini"), modemSettings);
    QVERIFY(mUi->logLines().contains("Настройки модема считаны"));
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

void TestJobs::clearDeletesEveryFile()
{
    openAndConnect();
    mUi->button("Очистить модем")->click();
    QTRY_COMPARE_WITH_TIMEOUT(mCloser->seen(), QStringList{"Сообщение|Модем очищен"}, jobTimeout);
    QVERIFY(mSim->files().isEmpty());
}

void TestJobs::flashFailsWhenTheModemFallsSilentInTheBytes()
{
    mSim->setPaced(false);
    mSim->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::DataStall, 1)
                       .afterDataBytes(6000));
    openAndConnect();
    mUi->button("Прошить")->click();
    QTRY_COMPARE_WITH_TIMEOUT(mCloser->seen(), QStringList{"Ошибка|Ошибка при прошивке модема"},
                              jobTimeout);
    QVERIFY(mUi->logLines().contains("Ошибка при прошивке модема"));
    // No command of the job follows the failure: only the presence check.
    for (const QByteArray &command : commandsAfter("at#wscript=\"main.pyo\",12859,1"))
        QCOMPARE(command, QByteArray("ate0"));
    QVERIFY(!mUi->progress()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(mSim->commands().constLast() == "ate0", linkTimeout);
}

void TestJobs::closingThePortAbandonsAFlash()
{
    mSim->setPaced(false);
    openAndConnect();
    mUi->button("Прошить")->click();
    QTRY_VERIFY_WITH_TIMEOUT(mSim->commands().contains("at#lscript"), jobTimeout);
    mUi->closePort();
    const int atClose = mSim->commands().size();
    QTest::qWait(1500); // longer than any answer wait of the listing and the deletes
    QCOMPARE(mSim->commands().size(), atClose);
    QVERIFY(mCloser->seen().isEmpty());
    QCOMPARE(mUi->logLines().constLast(), QStringLiteral("Порт закрыт"));
    QVERIFY(!mUi->progress()->isVisible());
    QVERIFY(mUi->jobButtonsDisabled());
}

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
