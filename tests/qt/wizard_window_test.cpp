// The wizard window and its pages, offscreen, in the sandbox: staging into
// /tmp, stand-in pkexec and dpkg, and a stand-in agent program on PATH.
// Cases that end the process run this binary again as a child (see main).
#include "test_support.h"
#include "tqwiz.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kStaged = QStringLiteral("/tmp/agent.conf");
const QString kAgentLog = QStringLiteral("/tmp/agent-started");
const QString kPkexecLog = QStringLiteral("/tmp/pkexec-ran");
const QString kPackage = QStringLiteral("/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb");
const QByteArray kConfig("[agent]\ntenant = test\n");

/// Answers every message box with answer, printing "title|text" for each on stdout.
void answerEveryBox(QMessageBox::StandardButton answer)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [answer] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        printf("%s|%s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
        fflush(stdout);
        box->button(answer)->click();
    });
    timer->start(20);
}

bool visible(tqwiz &window, QWizard::WizardButton which)
{
    return window.button(which)->isVisible();
}

QString viewText(tqwiz &window)
{
    return window.page(tqwiz::Page_Install)->findChild<QTextEdit *>()->toPlainText();
}

QString noteText(tqwiz &window)
{
    return window.page(tqwiz::Page_Install)->findChild<QLabel *>()->text();
}

} // namespace

class WizardWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    QTemporaryDir bin;

    void useDpkg(const QByteArray &body) { writeScript("/usr/bin/dpkg", body); }

    /// Shows the window and goes on to the install page, as Next does.
    void startInstalling(tqwiz &window)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.next();
        QCOMPARE(window.currentId(), int(tqwiz::Page_Install));
    }

    void waitForResult(tqwiz &window)
    {
        QTRY_VERIFY_WITH_TIMEOUT(window.currentPage()->title() != "Installing..", 30000);
        QTRY_VERIFY(!static_cast<InstallPage *>(window.page(tqwiz::Page_Install))->isInstalling());
    }

private slots:
    void initTestCase()
    {
        REQUIRE_SANDBOX();
        QVERIFY(work.isValid() && bin.isValid());
        QVERIFY(QDir::setCurrent(work.path()));
        qputenv("PATH", bin.path().toUtf8() + ":/usr/bin:/bin");
        writeScript(bin.filePath("morrowlin-tesserak"), "echo started >>" + kAgentLog.toUtf8());
    }

    void init()
    {
        QFile::remove(kStaged);
        QFile::remove(kAgentLog);
        QFile::remove(".agent.conf");
        QFile config(".agent.conf");
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(kConfig);
        config.close();
        writeScript("/usr/bin/pkexec", "exec \"$@\"");
    }

    void aNewWindowShowsTheWelcomePage()
    {
        tqwiz window;
        QCOMPARE(window.installSucceeded, false);
        QCOMPARE(window.windowTitle(), QStringLiteral("Morrowlin Tesserak 6.9.6.131326 Setup"));
        QCOMPARE(window.pageIds(), (QList<int>{0, 2}));
        QCOMPARE(window.startId(), 0);
        QCOMPARE(window.wizardStyle(), QWizard::ModernStyle);
        QVERIFY(!window.testOption(QWizard::HaveHelpButton));
        QCOMPARE(window.pixmap(QWizard::LogoPixmap).size(), QSize(62, 58));
        QVERIFY(!window.windowIcon().isNull());

        QWizardPage *intro = window.page(tqwiz::Page_Intro);
        QCOMPARE(intro->title(),
                 QStringLiteral("Welcome to the Quarvo Networks\nMorrowlin Tesserak 6.9.6.131326 \nSetup Wizard"));
        QVERIFY(intro->subTitle().isEmpty());
        QCOMPARE(intro->pixmap(QWizard::WatermarkPixmap).size(), QSize(165, 312));
        QCOMPARE(intro->findChild<QLabel *>()->text(),
                 QStringLiteral("This Setup Wizard will install Quarvo Networks Morrowlin Tesserak 6.9.6.131326 on "
                                "your computer. Click Next to continue or Cancel to exit the Setup Wizard."));
        QCOMPARE(intro->nextId(), 2);
        QCOMPARE(window.page(tqwiz::Page_Install)->nextId(), -1);
    }

    void aSuccessfulInstallationEndsWithFinishOnly()
    {
        // Two reads: the second one's paragraph is added to the first one's, not shown again.
        useDpkg("sleep 1; printf 'Unpacking agent\\n'; sleep 0.5; printf 'Setting up agent\\n'; echo note >&2; exit 0");
        tqwiz window;
        startInstalling(window);

        QCOMPARE(readAll(kStaged), kConfig);
        // The "User" flags describe the caller, not the file: only owner, group and other count.
        const QFileDevice::Permissions userFlags
            = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFileInfo(kStaged).permissions() & ~userFlags, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(window.currentPage()->title(), QStringLiteral("Installing.."));
        QVERIFY(!visible(window, QWizard::BackButton));
        QVERIFY(!visible(window, QWizard::FinishButton));
        QVERIFY(visible(window, QWizard::CancelButton));

        waitForResult(window);
        QCOMPARE(window.currentPage()->title(), QStringLiteral("Finished."));
        QCOMPARE(window.installSucceeded, true);
        QVERIFY(!visible(window, QWizard::BackButton));
        QVERIFY(visible(window, QWizard::FinishButton));
        QVERIFY(!visible(window, QWizard::CancelButton));
        QCOMPARE(viewText(window), QStringLiteral("Unpacking agent\nSetting up agent\nInstallation Succesful."));
        QCOMPARE(window.exitStatus, 0);
        QVERIFY2(!QFile::exists(kStaged), "the package has its copy: the secret is not left in /tmp");

        window.button(QWizard::FinishButton)->click();
        QCOMPARE(window.result(), int(QDialog::Accepted));
        QTRY_COMPARE(readAll(kAgentLog), QByteArray("started\n"));
    }

    void afterSuccessAnyWayOfClosingStartsTheAgent_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("close button") << false;
    }

    void afterSuccessAnyWayOfClosingStartsTheAgent()
    {
        QFETCH(bool, escape);
        useDpkg("exit 0");
        tqwiz window;
        startInstalling(window);
        waitForResult(window);
        QCOMPARE(window.installSucceeded, true);

        if (escape)
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            window.close();
        QVERIFY(!window.isVisible());
        QTRY_COMPARE(readAll(kAgentLog), QByteArray("started\n"));
    }

    void aFailedInstallationShowsTheErrorAndStartsNothing()
    {
        useDpkg("printf 'Unpacking agent\\nfailed here\\n'; echo oops >&2; exit 1");
        tqwiz window;
        startInstalling(window);
        waitForResult(window);

        QCOMPARE(window.currentPage()->title(), QStringLiteral("Failed."));
        QCOMPARE(window.installSucceeded, false);
        QVERIFY(visible(window, QWizard::CancelButton));
        QVERIFY(!visible(window, QWizard::FinishButton));
        QVERIFY(!visible(window, QWizard::BackButton));
        QCOMPARE(viewText(window),
                 QStringLiteral("Unpacking agentfailed hereFailed with error :1\n"
                                "Unpacking agent\nfailed here\n\n\noops\n\n\nError Code:1\n\nApplication: "
                                "/usr/bin/pkexec\n\nArguments: /usr/bin/dpkg;--force-all;-D1;-i;"
                                "/tmp/morrowlin-tesserak_6.9.6-131326.ubuntu_amd64.deb"));

        QCOMPARE(window.exitStatus, 1);      // what the launcher then reports, never "Finished"
        QCOMPARE(readAll(kStaged), kConfig); // kept for dpkg --configure -a
        window.button(QWizard::CancelButton)->click();
        QVERIFY(!window.isVisible());
        QTest::qWait(500);
        QVERIFY(!QFile::exists(kAgentLog));
    }

    void aMissingPkexecFailsWithCode2()
    {
        QFile::remove("/usr/bin/pkexec");
        tqwiz window;
        startInstalling(window);
        waitForResult(window);

        QCOMPARE(window.currentPage()->title(), QStringLiteral("Failed."));
        QCOMPARE(viewText(window),
                 QStringLiteral("Failed with error :2\nCould not find application \n/usr/bin/pkexec"));
        QCOMPARE(window.exitStatus, 2);
        QVERIFY(visible(window, QWizard::CancelButton));
        QVERIFY(!visible(window, QWizard::FinishButton));
    }

    void cancelOnTheWelcomePageStagesAndStartsNothing()
    {
        tqwiz window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.button(QWizard::CancelButton)->click();
        QCOMPARE(window.result(), int(QDialog::Rejected));
        QVERIFY(!window.isVisible());
        QTest::qWait(300);
        QVERIFY(!QFile::exists(kStaged));
        QVERIFY(!QFile::exists(kAgentLog));
    }

    void closingWhileInstallingWaitsForTheInstallation()
    {
        useDpkg("touch /tmp/dpkg-started; sleep 2; exit 0");
        tqwiz window;
        startInstalling(window);
        QTRY_VERIFY(QFile::exists("/tmp/dpkg-started"));

        window.reject();
        QTest::keyClick(&window, Qt::Key_Escape);
        window.close();
        QVERIFY(window.isVisible());
        QVERIFY(noteText(window).contains("still running"));

        waitForResult(window);
        QCOMPARE(window.currentPage()->title(), QStringLiteral("Finished."));
        QVERIFY(noteText(window).isEmpty());
        window.close();
        QVERIFY(!window.isVisible());
    }

    void cancelWhileWaitingForThePackageManagerClosesWithoutInstalling()
    {
        QFile::remove(kPkexecLog);
        writeScript("/usr/bin/pkexec", "touch " + kPkexecLog.toUtf8() + "; exec \"$@\"");
        useDpkg("exit 0");
        QProcess holder;
        holder.start(QStringLiteral(HOLD_DPKG_LOCKS), QStringList{"30", "/tmp/held"});
        QVERIFY(holder.waitForStarted());
        QTRY_VERIFY(QFile::exists("/tmp/held"));
        tqwiz window;
        startInstalling(window);
        QTRY_VERIFY(noteText(window).startsWith("Waiting for another package manager to finish (unattended-upgr"));

        window.button(QWizard::CancelButton)->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(window.exitStatus, 0);
        holder.kill();
        holder.waitForFinished();
        QTest::qWait(500);
        QVERIFY2(!QFile::exists(kPkexecLog), "the package manager ran after Cancel");
    }

    void aMissingDependencyFailsBeforeStagingAndNamesIt()
    {
        // A package at the package path that needs what no machine has.
        QDir().mkpath(work.filePath("pkg/DEBIAN"));
        QFile control(work.filePath("pkg/DEBIAN/control"));
        QVERIFY(control.open(QIODevice::WriteOnly));
        control.write("Package: morrowlin-tesserak\nVersion: 1\nArchitecture: all\nMaintainer: T <t@example.invalid>\n"
                      "Description: t\nDepends: libtdb1, no-such-library (>= 2) | no-such-other\n");
        control.close();
        QCOMPARE(QProcess::execute("dpkg-deb", {"--build", work.filePath("pkg"), kPackage}), 0);
        QFile::remove(kPkexecLog);
        writeScript("/usr/bin/pkexec", "touch " + kPkexecLog.toUtf8() + "; exec \"$@\"");
        tqwiz window;
        startInstalling(window);
        QFile::remove(kPackage);

        QCOMPARE(window.currentPage()->title(), QStringLiteral("Failed."));
        QCOMPARE(viewText(window), QStringLiteral("Failed with error :69\n\nThe package needs no-such-library (>= 2) | "
                                                  "no-such-other, which is not installed.\n\nInstall it first (apt-get "
                                                  "install no-such-library), then run the installer again. Nothing was "
                                                  "installed."));
        QVERIFY(visible(window, QWizard::CancelButton) && !visible(window, QWizard::FinishButton));
        QVERIFY(!QFile::exists(kStaged));
        window.button(QWizard::CancelButton)->click();
        QCOMPARE(window.exitStatus, 69);
        QTest::qWait(300);
        QVERIFY(!QFile::exists(kPkexecLog));
    }

    void stagingReplacesAPlantedLinkWithoutWritingThroughIt()
    {
        useDpkg("exit 1"); // a failure keeps the staged copy to look at
        QFile victim("/tmp/victim");
        QVERIFY(victim.open(QIODevice::WriteOnly));
        victim.write("precious");
        victim.close();
        QVERIFY(QFile::link("/tmp/victim", kStaged));

        tqwiz window;
        startInstalling(window);
        waitForResult(window);

        QCOMPARE(readAll("/tmp/victim"), QByteArray("precious"));
        QVERIFY(!QFileInfo(kStaged).isSymLink());
        QCOMPARE(readAll(kStaged), kConfig);
    }

    // --- cases that end the wizard process, run as a child (see main) ---

    void endingCases_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<bool>("constructed");
        QTest::addColumn<int>("status");

        const QString cannotStage = "Installation Aborted.|The configuration ./.agent.conf could not be staged to "
                                    "/tmp/agent.conf: ";
        QTest::newRow("no .agent.conf")
            << "missing-config"
            << "Installation Aborted.|File not found.Failed locating required configuration file: .agent.conf.\n"
               "Installation Aborted.|config_file_path=./.agent.conf\n"
            << true << 2;
        QTest::newRow("configuration cannot be staged") << "unstageable" << cannotStage + "Is a directory.\n"
                                                        << true << 2;
        QTest::newRow("a FIFO is refused, not waited for") << "fifo" << cannotStage + "it is not a regular file.\n"
                                                           << true << 2;
        QTest::newRow("a configuration others may write is refused")
            << "group-writable" << cannotStage + "others than its owner may write it.\n"
            << true << 2;
        QTest::newRow("reinstall declined") << "declined"
                                            << "Morrowlin Tesserak reinstall|Do you want to reinstall the \n"
                                            << false << 0;
    }

    void endingCases()
    {
        QFETCH(QString, mode);
        QFETCH(QString, boxes);
        QFETCH(bool, constructed);
        QFETCH(int, status);
        QFile::remove(kPkexecLog);
        writeScript("/usr/bin/pkexec", "touch " + kPkexecLog.toUtf8() + "; exec \"$@\"");
        useDpkg("exit 0");

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--child", mode});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), status);
        const QString expected = (constructed ? "constructed\n" : "") + boxes;
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), expected);
        QVERIFY(!QFile::exists(kPkexecLog));
        QVERIFY(!QFile::exists(kAgentLog));
    }
};

/// Child modes: each ends the process from inside the wizard, which the parent observes.
static int runChild(const QString &mode)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QTemporaryDir cliBin;
    if (mode == "declined") {
        writeScript(cliBin.filePath("kirra-cli"), "echo 6.9.6.131326");
        qputenv("PATH", cliBin.path().toUtf8() + ":/usr/bin:/bin");
    }
    answerEveryBox(mode == "declined" ? QMessageBox::Cancel : QMessageBox::Ok);
    if (mode == "unstageable") {
        QFile(".agent.conf").open(QIODevice::WriteOnly);
        QDir().mkpath("/tmp/agent.conf/keep");
    }
    if (mode == "fifo")
        mkfifo(".agent.conf", 0644);
    if (mode == "group-writable") {
        QFile(".agent.conf").open(QIODevice::WriteOnly);
        chmod(".agent.conf", 0664);
    }
    tqwiz window;
    printf("constructed\n");
    fflush(stdout);
    window.show();
    window.next();
    return 1; // not reached: the wizard ends the process
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return runChild(QString::fromUtf8(argv[2]));
    WizardWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "wizard_window_test.moc"
