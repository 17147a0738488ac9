// Nothing the bench shows is English: Qt's own buttons and file dialog come
// from the built-in Russian translation, and a file the system refuses is
// told in a Russian sentence with an action, never in the system's words.
#include "log/appendjournal.h"
#include "log/fileproblem.h"
#include "settings/settingscheck.h"
#include "settings/smallfile.h"
#include "ui/russiantranslation.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

namespace {
bool hasLatinLetter(const QString &text)
{
    for (const QChar c : text)
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
            (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))
            return true;
    return false;
}

// A sentence for the operator: Russian, and Latin letters only inside the path.
void verifyRussian(const QString &sentence, const QString &path)
{
    QString words = sentence;
    words.remove(QDir::toNativeSeparators(path));
    words.remove(path);
    words.remove(FileProblem::folderOf(path));
    QVERIFY2(!hasLatinLetter(words), qPrintable(sentence));
}
} // namespace

class TestRussian : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void qtDialogsSpeakRussian();
    void sentenceForEachSystemError_data();
    void sentenceForEachSystemError();
    void outputLossInRussian();
    void journalFolderMadeWhenMissing();
    void journalThatTheSystemRefuses_data();
    void journalThatTheSystemRefuses();
    void settingsFileThatTheSystemRefuses();
};

void TestRussian::initTestCase()
{
    QVERIFY(installRussianTranslation(*QCoreApplication::instance()));
}

void TestRussian::qtDialogsSpeakRussian()
{
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
    QMessageBox box(QMessageBox::Question, QStringLiteral("Стенд"), QStringLiteral("Начать?"),
                    QMessageBox::Yes | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Отмена"));
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Да"));

    // Qt's own dialog, as the bench window opens it: every label Russian.
    QFileDialog dialog(nullptr, QStringLiteral("Журнал"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const QList<QLabel *> labels = dialog.findChildren<QLabel *>();
    QVERIFY(!labels.isEmpty());
    for (const QLabel *label : labels)
        QVERIFY2(!hasLatinLetter(label->text()), qPrintable(label->text()));
    const QList<QPushButton *> pushButtons = dialog.findChildren<QPushButton *>();
    QVERIFY(!pushButtons.isEmpty());
    for (const QPushButton *button : pushButtons)
        QVERIFY2(!hasLatinLetter(button->text()), qPrintable(button->text()));
}

void TestRussian::sentenceForEachSystemError_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("start");
    const QString folder = FileProblem::folderOf(QStringLiteral("/srv/bench/journal.csv"));
    QTest::newRow("missing folder")
        << ENOENT << QStringLiteral("папка ") + folder + QStringLiteral(" не найдена: ");
    QTest::newRow("a file for a folder")
        << ENOTDIR << QStringLiteral("папка ") + folder + QStringLiteral(" не найдена: ");
    for (const int error : {EACCES, EPERM, EROFS})
        QTest::newRow(qPrintable(QStringLiteral("no permission %1").arg(error)))
            << error << QStringLiteral("нет прав на запись в ") + folder + QStringLiteral(": ");
    QList<int> full{ENOSPC};
#ifdef EDQUOT // a quota: not on every system
    full << EDQUOT;
#endif
    for (const int error : full)
        QTest::newRow(qPrintable(QStringLiteral("full disk %1").arg(error)))
            << error << QStringLiteral("диск заполнен: освободите место");
    QTest::newRow("other") << EBUSY
                           << QStringLiteral("не удалось записать файл ") +
                                  QDir::toNativeSeparators(
                                      QStringLiteral("/srv/bench/journal.csv"));
}

void TestRussian::sentenceForEachSystemError()
{
    QFETCH(int, error);
    QFETCH(QString, start);
    const QString file = QStringLiteral("/srv/bench/journal.csv");
    const QString sentence = FileProblem::sentence(error, file);
    QVERIFY2(sentence.startsWith(start), qPrintable(sentence));
    verifyRussian(sentence, file);
    // One action, after the reason (a drive's colon is no separator).
    QVERIFY2(sentence.count(QStringLiteral(": ")) == 1, qPrintable(sentence));
}

void TestRussian::outputLossInRussian()
{
    for (const int error : {EPIPE, ENOSPC, EACCES, EBADF}) {
        const QString sentence = FileProblem::outputSentence(error);
        QVERIFY2(!hasLatinLetter(sentence) && sentence.count(QLatin1Char(':')) == 1,
                 qPrintable(sentence));
    }
}

// A fresh user's Documents does not exist: the journal makes it.
void TestRussian::journalFolderMadeWhenMissing()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("home/Documents/lorta-journal.csv"));
    AppendJournal journal;
    QString error;
    QVERIFY2(journal.open(file, &error), qPrintable(error));
    QVERIFY(journal.append("line\r\n", &error));
    journal.close();
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("line\r\n"));
}

// The tests run as root, whom permissions do not stop: a folder nobody may
// create files in is one under /sys, and a missing folder that cannot be made
// is one under a file.
void TestRussian::journalThatTheSystemRefuses_data()
{
    QTest::addColumn<QString>("subPath");
    QTest::addColumn<QString>("start");
    QTest::newRow("file in place of the folder")
        << QStringLiteral("plain/journal.csv") << QStringLiteral("папка %1 не найдена: ");
    QTest::newRow("file above the missing folder")
        << QStringLiteral("plain/Documents/journal.csv") << QStringLiteral("папка %1 не найдена: ");
#ifdef Q_OS_LINUX
    QTest::newRow("no permission") << QString() << QStringLiteral("нет прав на запись в %1: ");
#endif
}

void TestRussian::journalThatTheSystemRefuses()
{
    QFETCH(QString, subPath);
    QFETCH(QString, start);
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString file =
        subPath.isEmpty() ? QStringLiteral("/sys/lorta-journal.csv") : dir.filePath(subPath);
    AppendJournal journal;
    QString error;
    QVERIFY(!journal.open(file, &error));
    const QString reason = start.arg(FileProblem::folderOf(file));
    QVERIFY2(error.contains(reason), qPrintable(error));
    verifyRussian(error, file);
}

// The system's refusal is said, not passed off as a missing file: a sysfs
// file only written to refuses even root reading it.
void TestRussian::settingsFileThatTheSystemRefuses()
{
    const QString file = QStringLiteral("/sys/bus/pci/rescan");
    if (QSysInfo::kernelType() != QLatin1String("linux") || !QFileInfo(file).isFile())
        QSKIP("no write-only sysfs file here");
    const SmallFile read = readSmallFile(file, 16384);
    QVERIFY(!read.isRead());
    const QString problem = settingsContentProblem(file, read);
    QVERIFY2(
        problem.startsWith(QStringLiteral("Нет прав на чтение ") + file + QStringLiteral(": ")),
        qPrintable(problem));
    verifyRussian(problem, file);

    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("settings.ini"));
    QCOMPARE(settingsContentProblem(missing, readSmallFile(missing, 16384)),
             QStringLiteral("Файл ") + missing + QStringLiteral(" не найден"));
}

QTEST_MAIN(TestRussian)
#include "tst_russian.moc"
