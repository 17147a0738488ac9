// The load-settings job against a misbehaving modem: the load rows of the fault matrix.
#include "faultmatrix.h"
#include "faultrunner.h"

#include <QtTest>

class TestFaultsLoad : public QObject
{
    Q_OBJECT

private slots:
    void faults_data() { FaultRunner::addRows(FaultMatrix::loadCases()); }
    void faults()
    {
        QFETCH(FaultMatrix::FaultCase, row);
        FaultRunner().run(row);
    }
};

QTEST_MAIN(TestFaultsLoad)
#include "tst_faults_load.moc"
