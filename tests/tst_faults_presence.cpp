// The presence check against a modem that misbehaves once or hangs up: the presence rows of the
// fault matrix.
#include "faultmatrix.h"
#include "faultrunner.h"

#include <QtTest>

class TestFaultsPresence : public QObject
{
    Q_OBJECT

private slots:
    void faults_data() { FaultRunner::addRows(FaultMatrix::presenceCases()); }
    void faults()
    {
        QFETCH(FaultMatrix::FaultCase, row);
        FaultRunner().run(row);
    }
};

QTEST_MAIN(TestFaultsPresence)
#include "tst_faults_presence.moc"
