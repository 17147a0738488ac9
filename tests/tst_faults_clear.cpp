// The clear job against a misbehaving modem: the clear rows of the fault matrix.
#include "faultmatrix.h"
#include "faultrunner.h"

#include <QtTest>

class TestFaultsClear : public QObject
{
    Q_OBJECT

private slots:
    void faults_data() { FaultRunner::addRows(FaultMatrix::clearCases()); }
    void faults()
    {
        QFETCH(FaultMatrix::FaultCase, row);
        FaultRunner().run(row);
    }
};

QTEST_MAIN(TestFaultsClear)
#include "tst_faults_clear.moc"
