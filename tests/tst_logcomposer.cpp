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

// What one message shows in the pane, given the presence check's state, whether it counts the
// modem connected and the pane's last line (with its stamp); an empty `shown` shows nothing.
void TestLogComposer::lines_data()
{
    QTest::addColumn<MessageKind>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("presenceCheck");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("shown");
    const QString connected = ToolText::connected();
    const QString noLink = ToolText::noConnection();
    const auto row = [&](const char *name, MessageKind kind, const QString &text, bool isConnected,
                         const QString &last, const QString &shown, bool presenceCheck = true) {
        QTest::newRow(name) << kind << text << presenceCheck << isConnected
                            << "14:03:07.045 : " + last
                            << (shown.isEmpty() ? QString() : "14:03:07.045 : " + shown);
    };
    const MessageKind received = MessageKind::Received;
    row("status", MessageKind::Status, ToolText::portOpened(), true, "", ToolText::portOpened());
    row("status line ends become blanks", MessageKind::Status, "один\r\nдва", true, "",
        "один  два");
    row("empty status", MessageKind::Status, "", true, "", "");
    row("sent", MessageKind::Sent, "ate0\r", true, "", "");
    row("not during the presence check", received, "\r\nOK\r\n", true, ToolText::portOpened(), "",
        false);
    row("OK before connected", received, "ate0\r\r\nOK\r\n", false, ToolText::portOpened(), "");
    row("OK that connects", received, "ate0\r\r\nOK\r\n", true, ToolText::portOpened(), connected);
    row("connected once", received, "\r\nOK\r\n", true, connected, "");
    row("silence after connected", received, "", false, connected, noLink);
    row("silence once", received, "", false, noLink, "");
    row("version", received, "v1.08\r\n", false, ToolText::portOpened(),
        "Выполняется скрипт: v1.08");
    row("silence after version", received, "", false, "Выполняется скрипт: v1.08", "");
    row("script stop", received, "Stop Script: Ошибка SIM\r\nOK\r\n", true, ToolText::portOpened(),
        "!!!Остановка выполнения скрипта: Ошибка SIM");
    row("stop with version", received, "Stop Script: v2.10", false, "",
        "Выполняется скрипт: v2.10");
    row("capital V is no version", received, "V1.08\r\n", false, ToolText::portOpened(), noLink);
    // A reason of any length shows at most 1,000 of its characters, cut after line ends and
    // "OK" are gone, and never between the two halves of a character.
    const QString stop = ToolText::scriptStopPrefix();
    const QString x1000(1000, 'x');
    row("stop reason of 1,000 characters", received, "Stop Script: " + x1000, false, "",
        stop + x1000);
    row("longer stop reason is cut", received, "Stop Script: " + x1000 + "yz", false, "",
        stop + x1000 + "…");
    row("cut after line ends go", received,
        "Stop Script: " + QString(500, 'a') + QString("\r\n").repeated(300) + QString(600, 'b'),
        false, "", stop + QString(500, 'a') + QString(500, 'b') + "…");
    row("no half character", received, "Stop Script: " + QString(999, 'x') + "😀tail", false, "",
        stop + QString(999, 'x') + "…");
}

void TestLogComposer::lines()
{
    QFETCH(MessageKind, kind);
    QFETCH(QString, text);
    QFETCH(bool, presenceCheck);
    QFETCH(bool, connected);
    QFETCH(QString, lastLine);
    const QDateTime at(QDate(2026, 1, 2), QTime(14, 3, 7, 45));
    QTEST(LogComposer().compose(at, text, kind, presenceCheck, connected, lastLine), "shown");
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
