// The install worker against stand-in pkexec and dpkg programs. Runs in the
// sandbox, where it may replace /usr/bin/pkexec and /usr/bin/dpkg.
#include "test_support.h"
#include "tqwiz.h"

namespace {

const QString kPkexec = QStringLiteral("/usr/bin/pkexec");
const QString kDpkg = QStringLiteral("/usr/bin/dpkg");
const QString kPackage = QStringLiteral("/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb");

struct WorkerRun {
    QList<QStringList> reads;
    QList<int> retcodes;
    QStringList final;
};

WorkerRun runWorker()
{
    InstallWorker worker(nullptr);
    QSignalSpy reads(&worker, SIGNAL(dataRead(const QStringList &)));
    QSignalSpy finished(&worker, SIGNAL(finished(int, const QStringList &)));
    worker.start();
    worker.wait(60000);
    WorkerRun run;
    for (const QList<QVariant> &args : reads)
        run.reads << args.at(0).toStringList();
    for (const QList<QVariant> &args : finished) {
        run.retcodes << args.at(0).toInt();
        run.final = args.at(1).toStringList();
    }
    return run;
}

} // namespace

class InstallWorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        REQUIRE_SANDBOX();
        writeScript(kPkexec, "exec \"$@\"");
    }

    void reportsEveryReadWithTheWholeListSoFar()
    {
        writeScript(kDpkg, "echo first; sleep 0.5; echo second; echo warning >&2; exit 0");
        const WorkerRun run = runWorker();

        QCOMPARE(run.retcodes, QList<int>{0});
        QVERIFY(run.reads.size() >= 2);
        for (int i = 0; i < run.reads.size(); ++i)
            QCOMPARE(run.reads.at(i).size(), i + 1);
        QCOMPARE(run.reads.first(), QStringList{"first\n"});
        const int readEntries = run.reads.size();
        QCOMPARE(run.final.mid(0, readEntries), run.reads.last());
        // The reads and the rest of stdout together hold everything, in order.
        QCOMPARE(run.final.mid(0, readEntries + 1).join(QString()), QStringLiteral("first\nsecond\n"));
        QCOMPARE(run.final.mid(readEntries + 1), (QStringList{"warning\n", "\nInstallation Finished"}));
    }

    void runsDpkgThroughPkexecWithTheFixedArguments()
    {
        writeScript(kPkexec, "echo \"pkexec $*\" >/tmp/pkexec-args; exec \"$@\"");
        writeScript(kDpkg, "exit 1");
        const WorkerRun run = runWorker();

        QCOMPARE(readAll("/tmp/pkexec-args"), "pkexec /usr/bin/dpkg --force-all -D1 -i " + kPackage.toUtf8() + "\n");
        QCOMPARE(run.retcodes, QList<int>{1});
        QCOMPARE(run.final, (QStringList{"", "", "\nError Code:1", "\nApplication: /usr/bin/pkexec",
                                         "\nArguments: /usr/bin/dpkg;--force-all;-D1;-i;" + kPackage}));
        QVERIFY(run.reads.isEmpty());
    }

    void aFailureKeepsTheOutputAndTheErrors()
    {
        writeScript(kDpkg, "echo 'dpkg: error processing package'; echo 'subprocess failed' >&2; exit 3");
        const WorkerRun run = runWorker();

        QCOMPARE(run.retcodes, QList<int>{3});
        QCOMPARE(run.final.join(QString()).count("dpkg: error processing package\n"), 1);
        QCOMPARE(run.final.mid(run.final.size() - 4),
                 (QStringList{"subprocess failed\n", "\nError Code:3", "\nApplication: /usr/bin/pkexec",
                              "\nArguments: /usr/bin/dpkg;--force-all;-D1;-i;" + kPackage}));
    }

    void onlyStandardErrorArrivesInOneEntryAtTheEnd()
    {
        writeScript(kDpkg, "echo one >&2; sleep 0.3; echo two >&2; exit 0");
        const WorkerRun run = runWorker();

        QVERIFY(run.reads.isEmpty());
        QCOMPARE(run.final, (QStringList{"", "one\ntwo\n", "\nInstallation Finished"}));
    }

    void aReadEndsAtANulByte()
    {
        writeScript(kDpkg, "printf 'abc\\000def\\n'; exit 0");
        const WorkerRun run = runWorker();

        QCOMPARE(run.reads.size(), 1);
        QCOMPARE(run.reads.first(), QStringList{"abc"});
    }

    void missingToolsAreReportedWithCode2()
    {
        QFile::remove(kDpkg);
        WorkerRun run = runWorker();
        QCOMPARE(run.retcodes, QList<int>{2});
        QCOMPARE(run.final, (QStringList{"Could not find application ", "/usr/bin/dpkg"}));

        QFile::remove(kPkexec);
        run = runWorker();
        QCOMPARE(run.retcodes, QList<int>{2});
        QCOMPARE(run.final, (QStringList{"Could not find application ", "/usr/bin/pkexec"}));
        QVERIFY(run.reads.isEmpty());
    }

    void aPkexecThatCannotRunIsReportedNotSwallowed()
    {
        writeScript(kDpkg, "exit 0");
        QVERIFY(QFile::setPermissions(kPkexec, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        const WorkerRun run = runWorker();

        QCOMPARE(run.retcodes, QList<int>{126});
        QCOMPARE(run.final.size(), 3);
        QCOMPARE(run.final.mid(0, 2), (QStringList{"Could not start application ", "/usr/bin/pkexec"}));
        QVERIFY2(run.final.at(2).startsWith("\n") && run.final.at(2).size() > 1, qPrintable(run.final.at(2)));
    }

    void waitsWhileAnotherPackageManagerHoldsTheLocksAndNamesIt()
    {
        // pkexec notes whether the locks were still held when it was started.
        writeScript(kPkexec, QByteArray(HOLD_DPKG_LOCKS) + " --try || touch /tmp/pkexec-too-early\nexec \"$@\"");
        writeScript(kDpkg, "exit 0");
        QProcess holder;
        holder.start(QStringLiteral(HOLD_DPKG_LOCKS), QStringList{"1.5", "/tmp/held"});
        QVERIFY(holder.waitForStarted());
        QTRY_VERIFY(QFile::exists("/tmp/held"));
        const qint64 holderPid = holder.processId();

        InstallWorker worker(nullptr);
        QSignalSpy waiting(&worker, SIGNAL(waiting(const QString &)));
        QSignalSpy finished(&worker, SIGNAL(finished(int, const QStringList &)));
        worker.start();
        QVERIFY(worker.wait(30000));
        holder.waitForFinished();

        QCOMPARE(waiting.size(), 2);
        QCOMPARE(waiting.first().at(0).toString(),
                 QStringLiteral("Waiting for another package manager to finish (unattended-upgr, process ")
                     + QString::number(holderPid) + QStringLiteral(")\u2026"));
        QCOMPARE(waiting.last().at(0).toString(), QString());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toInt(), 0);
        QVERIFY2(!QFile::exists("/tmp/pkexec-too-early"), "pkexec started while the locks were held");
    }
};

QTEST_GUILESS_MAIN(InstallWorkerTest)
#include "install_worker_test.moc"
