#include "log/logcomposer.h"
#include "log/logpane.h"
#include "protocol/tooltexts.h"

#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

class TestLogComposer : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void paneKeepsTheLatestLines();
    void paneKeepsItsCharacterBudget();
};

// What one message shows in the pane, given the presence check's state, its count of "OK"
// answers and the pane's last line (with its stamp); an empty `shown` shows nothing.
void TestLogComposer::lines_data()
{
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("presenceCheck");
    QTest::addColumn<int>("okCount");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("shown");
    const QString connected = ToolText::connected();
    const QString noLink = ToolText::noConnection();
    const auto row = [&](const char *name, MessageKind kind, const QString &text, int okCount,
                         const QString &last, const QString &shown, bool presenceCheck = true) {
        QTest::newRow(name) << kind << text << presenceCheck << okCount << "14:03:07.045 : " + last
                            << (shown.isEmpty() ? QString() : "14:03:07.045 : " + shown);
    };
    const MessageKind received = MessageKind::Received;
    row("status", MessageKind::Status, ToolText::portOpened(), 5, "", ToolText::portOpened());
    row("status line ends become blanks", MessageKind::Status, "один\r\nдва", 5, "", "один  два");
    row("empty status", MessageKind::Status, "", 5, "", "");
    row("sent", MessageKind::Sent, "ate0\r", 5, "", "");
    row("not during the presence check", received, "\r\nOK\r\n", 5, ToolText::portOpened(), "",
        false);
    row("fourth OK", received, "ate0\r\r\nOK\r\n", 4, ToolText::portOpened(), "");
    row("fifth OK connects", received, "ate0\r\r\nOK\r\n", 5, ToolText::portOpened(), connected);
    row("connected once", received, "\r\nOK\r\n", 6, connected, "");
    row("silence after connected", received, "", 0, connected, noLink);
    row("silence once", received, "", 0, noLink, "");
    row("version", received, "v1.08\r\n", 0, ToolText::portOpened(), "Выполняется скрипт: v1.08");
    row("silence after version", received, "", 0, "Выполняется скрипт: v1.08", "");
    row("script stop", received, "Stop Script: Ошибка SIM\r\nOK\r\n", 5, ToolText::portOpened(),
        "!!!Остановка выполнения скрипта: Ошибка SIM");
    row("stop with version", received, "Stop Script: v2.10", 0, "", "Выполняется скрипт: v2.10");
    row("capital V is no version", received, "V1.08\r\n", 0, ToolText::portOpened(), noLink);
    // A reason of any length shows at most 1,000 of its characters, cut after line ends and
    // "OK" are gone, and never between the two halves of a character.
    const QString stop = ToolText::scriptStopPrefix();
    const QString x1000(1000, 'x');
    row("stop reason of 1,000 characters", received, "Stop Script: " + x1000, 0, "", stop + x1000);
    row("longer stop reason is cut", received, "Stop Script: " + x1000 + "yz", 0, "",
        stop + x1000 + "…");
    row("cut after line ends go", received,
        "Stop Script: " + QString(500, 'a') + QString("\r\n").repeated(300) + QString(600, 'b'), 0,
        "", stop + QString(500, 'a') + QString(500, 'b') + "…");
    row("no half character", received, "Stop Script: " + QString(999, 'x') + "😀tail", 0, "",
        stop + QString(999, 'x') + "…");
}

void TestLogComposer::lines()
{
    QFETCH(MessageKind, kind);
    QFETCH(QString, text);
    QFETCH(bool, presenceCheck);
    QFETCH(int, okCount);
    QFETCH(QString, lastLine);
    const QDateTime at(QDate(2026, 1, 2), QTime(14, 3, 7, 45));
    QTEST(LogComposer().compose(at, text, kind, presenceCheck, okCount, lastLine), "shown");
}

// The pane always keeps the latest 50,000 lines, drops older ones a thousand
// at a time, and still knows its true last line.
void TestLogComposer::paneKeepsTheLatestLines()
{
    QTextBrowser view;
    LogPane pane(&view);
    for (int i = 0; i < 50999; ++i)
        pane.append(QString::number(i));
    QCOMPARE(view.document()->blockCount(), 50999);
    pane.append(QStringLiteral("50999"));
    QCOMPARE(view.document()->blockCount(), 50000);
    QCOMPARE(view.document()->firstBlock().text(), QString("1000"));
    QCOMPARE(pane.lastLine(), QString("50999"));
}

// Long lines meet the character budget before the line cap: the pane never holds more than
// maxCharacters, drops its oldest lines a batch at a time, and keeps the newest whole.
void TestLogComposer::paneKeepsItsCharacterBudget()
{
    QTextBrowser view;
    LogPane pane(&view);
    const QString line = QString(1049, 'x');
    const int perLine = line.size() + 1;
    const int linesFit = LogPane::maxCharacters / perLine;
    int trims = 0;
    for (int i = 0; i < 3 * linesFit; ++i) {
        const int before = view.document()->blockCount();
        pane.append(QString::number(i) + line);
        trims += view.document()->blockCount() <= before;
        QVERIFY(view.document()->characterCount() <= LogPane::maxCharacters);
    }
    QVERIFY2(trims <= 3 * LogPane::maxCharacters / LogPane::characterTrimBatch,
             qPrintable(QString::number(trims)));
    QVERIFY(view.document()->characterCount() >
            LogPane::maxCharacters - LogPane::characterTrimBatch - perLine);
    QCOMPARE(pane.lastLine(), QString::number(3 * linesFit - 1) + line);
}

QTEST_MAIN(TestLogComposer)
#include "tst_logcomposer.moc"
