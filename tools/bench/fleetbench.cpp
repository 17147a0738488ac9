#include "fleetbench.h"
#include "benchio.h"

#include "eventwait.h"
#include "fleet/fleetconnection.h"
#include "fleet/fleetdesk.h"
#include "fleet/fleetimport.h"
#include "fleet/fleetoutbox.h"
#include "line/imeiparser.h"
#include "line/journal.h"
#include "line/provisiontable.h"
#include "line/workerthread.h"
#include "settings/settingsfile.h"
#include "stallmeter.h"
#include "throwawaypostgres.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using BenchIo::out;

namespace {

constexpr int stallProbeMs = 2;
constexpr int setupWaitMs = 60000;
constexpr int runWaitMs = 15 * 60 * 1000;
const char *const tableName = "fleet-bench";

// A valid IMEI from a number: fourteen digits and the check digit that fits.
QString imeiFor(int number)
{
    const QByteArray body = QByteArray::number(35693803000000LL + number);
    for (char digit = '0'; digit <= '9'; ++digit) {
        if (ImeiParser::luhnValid(body + digit))
            return QString::fromLatin1(body + digit);
    }
    return QString();
}

// One bench of the floor: its journal, its outbox and its desk, the outbox and
// the desk each on a connection of its own, as the production watch has them.
// Declared so that the outbox and the desk go before their connections.
struct FloorBench
{
    int index = 0;
    Journal journal;
    WorkerThread writer{QStringLiteral("FleetBenchJournal")}; // the journal's disk, as the watch has it
    std::unique_ptr<FleetConnection> outboxLink;
    std::unique_ptr<FleetConnection> deskLink;
    std::unique_ptr<FleetOutbox> outbox;
    std::unique_ptr<FleetDesk> desk;
    int nextRecord = 0; // the bench's records started so far
    int written = 0;
};

struct Tally
{
    QElapsedTimer clock;
    qint64 firstWriteNs = -1;
    qint64 lastGrantNs = 0;
    std::vector<double> latencyMs;
    QList<int> rows;
    QStringList refusals;
    QStringList failures; // journal writes that did not reach the file
    int recordsTotal = 0;
    int waitingSaid = 0; // reservations the modem was told to wait for
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = size_t(std::ceil(share * double(values.size()))) - 1;
    return values.at(std::min(at, values.size() - 1));
}

QStringList journalIds(const QString &fileName)
{
    QFile file(fileName);
    QStringList ids;
    if (!file.open(QIODevice::ReadOnly))
        return ids;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = Journal::splitLine(QString::fromUtf8(lines.at(i)).trimmed());
        if (fields.size() == Journal::ColumnCount)
            ids << fields.at(Journal::ColumnRecordId);
    }
    return ids;
}

// The socket's next modem: a row for its IMEI, then the job's record with
// that row written to the journal and handed to the outbox, then the next.
void startNext(FloorBench *bench, int socket, int socketsPerBench, int recordsPerBench,
               Tally *tally)
{
    if (bench->nextRecord >= recordsPerBench)
        return;
    const int number = bench->index * recordsPerBench + bench->nextRecord++;
    const QString imei = imeiFor(number);
    auto asked = std::make_shared<qint64>(tally->clock.nsecsElapsed());
    bench->desk->request(imei, bench->desk.get(), [=](const RowDesk::Grant &grant) {
        if (!grant.waiting.isEmpty()) {
            ++tally->waitingSaid; // cut at the reservation's limit: asked again
            return;               // the grant itself follows
        }
        const qint64 now = tally->clock.nsecsElapsed();
        tally->latencyMs.push_back((now - *asked) / 1e6);
        tally->lastGrantNs = std::max(tally->lastGrantNs, now);
        if (grant.row <= 0) {
            tally->refusals << grant.refusal;
        } else {
            tally->rows << grant.row;
            JournalRecord record;
            record.socket = socket + 1;
            record.port = QStringLiteral("/dev/ttyUSB%1").arg(socket);
            record.serialNumber = QStringLiteral("FT%1").arg(socket, 4, 10, QLatin1Char('0'));
            record.imei = imei;
            record.job = QStringLiteral("flash");
            record.result = JournalRecord::Result::Success;
            record.text = QStringLiteral("Модем прошит");
            record.seconds = 44.5;
            record.settingsFile = QString::fromLatin1(tableName);
            record.settingsHash = QStringLiteral("0").repeated(64);
            record.tableRow = grant.row;
            // As the watch does: the result told to the desk, the line written
            // on the journal's own thread, then handed to the outbox.
            bench->desk->noteResult(grant.row, imei, record.result);
            const QDateTime time = bench->journal.now();
            const QByteArray line = bench->journal.line(record, time);
            if (tally->firstWriteNs < 0)
                tally->firstWriteNs = tally->clock.nsecsElapsed();
            Journal *journal = &bench->journal;
            auto reason = std::make_shared<QString>();
            auto written = std::make_shared<bool>(false);
            bench->writer.post([journal, line, reason,
                                written] { *written = journal->writeLine(line, reason.get()); },
                               [=] {
                                   if (*written) {
                                       bench->journal.noteWritten(record, time);
                                       ++bench->written;
                                       ++tally->recordsTotal;
                                       bench->outbox->add(line);
                                   } else {
                                       tally->failures << *reason;
                                   }
                                   startNext(bench, socket, socketsPerBench, recordsPerBench,
                                             tally);
                               });
            return;
        }
        startNext(bench, socket, socketsPerBench, recordsPerBench, tally);
    });
}

} // namespace

bool measureFleet(int benches, int socketsPerBench, int recordsPerBench)
{
    const int total = benches * recordsPerBench;
    out(QStringLiteral("fleet: %1 benches × %2 sockets, %3 records each, one shared table of %4 "
                       "rows, one PostgreSQL 15 on this machine, FleetTiming defaults")
            .arg(benches)
            .arg(socketsPerBench)
            .arg(recordsPerBench)
            .arg(total));
    TestSupport::ThrowawayPostgres server;
    QString error;
    if (!server.start(&error)) {
        out(QStringLiteral("fleet: the server did not start: ") + error);
        return false;
    }
    out(QStringLiteral("fleet: server max_connections = %1, connections opened here: %2")
            .arg(server.execValue(QStringLiteral("SHOW max_connections")))
            .arg(benches * 2 + 1));
    QTemporaryDir dir;
    const FleetTiming timing; // the programs' own

    // The table, loaded once by a connection of its own, as an operator does.
    const QStringList base = composeSettings({{"DEST_IP", "10.1.2.3"}});
    {
        QByteArray bytes = "APN;PIN\r\n";
        for (int i = 0; i < total; ++i)
            bytes += "apn" + QByteArray::number(i + 1) + ".example;" +
                     QByteArray::number(1000 + i % 9000) + "\r\n";
        ProvisionTable table;
        if (!table.parse(bytes, dir.filePath(QStringLiteral("fleet-table.csv")), base, &error)) {
            out(QStringLiteral("fleet: the table did not parse: ") + error);
            return false;
        }
        FleetConnection importLink(server.conninfo(), timing);
        QObject context;
        bool done = false;
        FleetImport::Outcome outcome;
        QElapsedTimer clock;
        clock.start();
        FleetImport::run(&importLink, &context, QString::fromLatin1(tableName), table, false,
                         [&](const FleetImport::Outcome &given) {
                             outcome = given;
                             done = true;
                         });
        if (!TestSupport::waitServingEvents([&] { return done; }, setupWaitMs) ||
            !outcome.error.isEmpty() || outcome.rows != total) {
            out(QStringLiteral("fleet: the table was not loaded: ") + outcome.error);
            return false;
        }
        out(QStringLiteral("%1 %2 ms")
                .arg(QStringLiteral("table of %1 rows imported in:").arg(total), -44)
                .arg(clock.elapsed()));
    }

    std::vector<std::unique_ptr<FloorBench>> floor;
    int opened = 0;
    QStringList openFailures;
    for (int b = 0; b < benches; ++b) {
        auto bench = std::make_unique<FloorBench>();
        bench->index = b;
        const QString name = QStringLiteral("Стенд %1").arg(b + 1);
        bench->journal.setBench(name);
        const QString journalFile = dir.filePath(QStringLiteral("journal-%1.csv").arg(b + 1));
        if (!bench->journal.open(journalFile, &error)) {
            out(QStringLiteral("fleet: journal %1 did not open: %2").arg(journalFile, error));
            return false;
        }
        bench->outboxLink = std::make_unique<FleetConnection>(server.conninfo(), timing);
        bench->deskLink = std::make_unique<FleetConnection>(server.conninfo(), timing);
        bench->outbox = std::make_unique<FleetOutbox>(bench->outboxLink.get());
        if (!bench->outbox->open(bench->journal.fileName(), &error)) {
            out(QStringLiteral("fleet: outbox %1 did not open: %2").arg(b + 1).arg(error));
            return false;
        }
        bench->desk = std::make_unique<FleetDesk>(bench->deskLink.get(),
                                                  QString::fromLatin1(tableName), name, base, 0);
        bench->desk->open([&opened, &openFailures](const QString &answer) {
            ++opened;
            if (!answer.isEmpty())
                openFailures << answer;
        });
        floor.push_back(std::move(bench));
    }
    if (!TestSupport::waitServingEvents([&] { return opened == benches; }, setupWaitMs) ||
        !openFailures.isEmpty()) {
        out(QStringLiteral("fleet: the desks did not open: ") + openFailures.join(QStringLiteral("; ")));
        return false;
    }

    Tally tally;
    tally.latencyMs.reserve(size_t(total));
    StallMeter stalls(stallProbeMs);
    stalls.start();
    tally.clock.start();
    for (auto &bench : floor) {
        for (int socket = 0; socket < socketsPerBench; ++socket)
            startNext(bench.get(), socket, socketsPerBench, recordsPerBench, &tally);
    }
    const auto allAnswered = [&] { return int(tally.latencyMs.size()) >= total; };
    const auto allConfirmed = [&] {
        if (!allAnswered())
            return false;
        for (const auto &bench : floor) {
            if (bench->writer.pending() > 0 || bench->outbox->waiting() > 0 ||
                !bench->outbox->idle())
                return false;
        }
        return true;
    };
    const bool ended = TestSupport::waitServingEvents(allConfirmed, runWaitMs);
    const qint64 endNs = tally.clock.nsecsElapsed();
    const qint64 stall = stalls.stop();
    const QString stallEnd = stalls.largestEnd();

    const double recordSeconds = (endNs - std::max<qint64>(tally.firstWriteNs, 0)) / 1e9;
    const double reserveSeconds = tally.lastGrantNs / 1e9;
    out(QStringLiteral("%1 %2 s%3")
            .arg(QStringLiteral("run, first request to all confirmed:"), -44)
            .arg(endNs / 1e9, 0, 'f', 2)
            .arg(ended ? QString() : QStringLiteral("   DID NOT END")));
    out(QStringLiteral("%1 %2 /s   (%3 records in %4 s, first write to all confirmed)")
            .arg(QStringLiteral("records reaching the server:"), -44)
            .arg(tally.recordsTotal / recordSeconds, 0, 'f', 0)
            .arg(tally.recordsTotal)
            .arg(recordSeconds, 0, 'f', 2));
    out(QStringLiteral("%1 %2 /s   (%3 rows in %4 s)")
            .arg(QStringLiteral("reservations:"), -44)
            .arg(tally.latencyMs.size() / reserveSeconds, 0, 'f', 0)
            .arg(tally.latencyMs.size())
            .arg(reserveSeconds, 0, 'f', 2));
    out(QStringLiteral("%1 %2 ms median, %3 ms 99th percentile, %4 ms largest")
            .arg(QStringLiteral("reservation latency:"), -44)
            .arg(percentile(tally.latencyMs, 0.5), 0, 'f', 1)
            .arg(percentile(tally.latencyMs, 0.99), 0, 'f', 1)
            .arg(percentile(tally.latencyMs, 1.0), 0, 'f', 1));
    out(QStringLiteral("%1 %2 of %3   (not answered within reserveLimit %4 ms, asked again)")
            .arg(QStringLiteral("reservations told to wait:"), -44)
            .arg(tally.waitingSaid)
            .arg(total)
            .arg(timing.reserveLimit.count()));
    out(QStringLiteral("%1 %2 ms   (ended %3)")
            .arg(QStringLiteral("largest event-loop stall:"), -44)
            .arg(stall)
            .arg(stallEnd));

    // Nothing lost, nothing doubled: the server's ids are the journals' ids,
    // each once; every row given once and bound on the server.
    QSet<QString> journalSet;
    int journalLines = 0;
    for (const auto &bench : floor) {
        const QStringList ids = journalIds(bench->journal.fileName());
        journalLines += ids.size();
        for (const QString &id : ids)
            journalSet.insert(id);
    }
    QSet<QString> serverSet;
    int serverCount = 0;
    for (const QStringList &row : server.exec(QStringLiteral("SELECT id::text FROM lorta_record"))) {
        serverSet.insert(row.value(0));
        ++serverCount;
    }
    const QSet<int> rowSet(tally.rows.cbegin(), tally.rows.cend());
    const int bound = server
                          .execValue(QStringLiteral("SELECT count(*) FROM lorta_table_row WHERE "
                                                    "table_name = '%1' AND bound_imei IS NOT NULL")
                                         .arg(QString::fromLatin1(tableName)))
                          .toInt();
    const int boundImeis = server
                               .execValue(QStringLiteral("SELECT count(DISTINCT bound_imei) FROM "
                                                         "lorta_table_row WHERE table_name = '%1'")
                                              .arg(QString::fromLatin1(tableName)))
                               .toInt();
    const bool idsMatch = serverSet == journalSet;
    const bool ok = ended && tally.refusals.isEmpty() && tally.failures.isEmpty() &&
                    journalLines == total && journalSet.size() == total &&
                    serverCount == total && serverSet.size() == total && idsMatch &&
                    tally.rows.size() == total && rowSet.size() == total && bound == total &&
                    boundImeis == total;
    out(QStringLiteral("%1 journals %2 lines (%3 ids), server %4 records (%5 ids, %6), "
                       "rows given %7 (%8 distinct), bound %9")
            .arg(QStringLiteral("lost or doubled:"), -44)
            .arg(journalLines)
            .arg(journalSet.size())
            .arg(serverCount)
            .arg(serverSet.size())
            .arg(idsMatch ? QStringLiteral("the journals' ids") : QStringLiteral("NOT the journals' ids"))
            .arg(tally.rows.size())
            .arg(rowSet.size())
            .arg(bound));
    if (!tally.refusals.isEmpty())
        out(QStringLiteral("fleet: %1 refusals, the first: %2")
                .arg(tally.refusals.size())
                .arg(tally.refusals.constFirst()));
    if (!tally.failures.isEmpty())
        out(QStringLiteral("fleet: %1 journal writes failed, the first: %2")
                .arg(tally.failures.size())
                .arg(tally.failures.constFirst()));
    out(QStringLiteral("%1 %2").arg(QStringLiteral("fleet checks:"), -44).arg(ok ? "all hold" : "FAILED"));
    for (auto &bench : floor)
        bench->journal.close();
    return ok;
}
