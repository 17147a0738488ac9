#include "log/logcomposer.h"

#include <QtTest>

namespace {
const QDateTime at = QDateTime(QDate(2026, 1, 2), QTime(14, 3, 7, 45));
const QString stamp = QStringLiteral("14:03:07.045 : ");
const QString connected = QStringLiteral("Связь с модемом установлена");
const QString noLink =
    QStringLiteral("Нет связи с модемом. Модем не подключен или в модеме выполняется скрипт");
const QString running = QStringLiteral("Выполняется скрипт: ");
} // namespace

class TestLogComposer : public QObject
{
    Q_OBJECT

private slots:
    void statusAndSentLines_data();
    void statusAndSentLines();
    void receivedLines_data();
    void receivedLines();
    void lastLineDropsExactlyTheStamp();

private:
    LogComposer mComposer;
};

void TestLogComposer::statusAndSentLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");

    QTest::newRow("status") << "Порт открыт" << 0 << stamp + "Порт открыт";
    QTest::newRow("status line ends become blanks") << "один\r\nдва" << 0 << stamp + "один  два";
    QTest::newRow("empty status shows nothing") << "" << 0 << "";
    QTest::newRow("sent line shows nothing") << "ate0\r" << 1 << "";
}

void TestLogComposer::statusAndSentLines()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(QString, shown);
    QCOMPARE(mComposer.compose(at, text, static_cast<MessageKind>(kind), true, 5, QString()),
             shown);
    QCOMPARE(LogComposer::stamp(at).size(), 15);
}

void TestLogComposer::receivedLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("presenceCheck");
    QTest::addColumn<int>("okCount");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("shown");

    const QString portOpen = stamp + "Порт открыт";
    QTest::newRow("not during the presence check") << "ate0\r\r\nOK\r\n"
                                                   << false << 5 << portOpen << "";
    QTest::newRow("fifth OK connects") << "ate0\r\r\nOK\r\n" << true << 5 << portOpen << connected;
    QTest::newRow("connected once") << "\r\nOK\r\n" << true << 6 << stamp + connected << "";
    QTest::newRow("not yet connected") << "\r\nOK\r\n" << true << 3 << portOpen << "";
    QTest::newRow("silence after connected") << "" << true << 0 << stamp + connected << noLink;
    QTest::newRow("silence once") << "" << true << 0 << stamp + noLink << "";
    QTest::newRow("version") << "v1.08\r\n" << true << 0 << portOpen << running + "v1.08";
    QTest::newRow("silence after version") << "" << true << 0 << stamp + running + "v1.08"
                                           << "";
    QTest::newRow("script stop") << "Stop Script: Ошибка SIM\r\nOK\r\n"
                                 << true << 5 << portOpen
                                 << "!!!Остановка выполнения скрипта: Ошибка SIM";
    QTest::newRow("stop with version shows version")
        << "Stop Script: v2.10 halted" << true << 0 << portOpen << running + "v2.10";
    QTest::newRow("capital V is no version") << "V1.08\r\n" << true << 0 << portOpen << noLink;
    QTest::newRow("capital V after no link") << "V1.08" << true << 0 << stamp + noLink << "";
}

void TestLogComposer::receivedLines()
{
    QFETCH(QString, text);
    QFETCH(bool, presenceCheck);
    QFETCH(int, okCount);
    QFETCH(QString, lastLine);
    QFETCH(QString, shown);
    const QString line =
        mComposer.compose(at, text, MessageKind::Received, presenceCheck, okCount, lastLine);
    QCOMPARE(line, shown.isEmpty() ? QString() : stamp + shown);
}

void TestLogComposer::lastLineDropsExactlyTheStamp()
{
    QCOMPARE(LogComposer::withoutStamp(stamp + connected), connected);
    // A line of 15 characters or fewer is compared as it is.
    QCOMPARE(LogComposer::withoutStamp(stamp), stamp);
    QCOMPARE(LogComposer::withoutStamp(QStringLiteral("short")), QStringLiteral("short"));
}

QTEST_GUILESS_MAIN(TestLogComposer)
#include "tst_logcomposer.moc"
