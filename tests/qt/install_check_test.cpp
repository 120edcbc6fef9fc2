// The existing-installation check against stand-in kirra-cli programs on PATH.
#include "test_support.h"
#include "tqwiz.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

class InstallCheckTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir bin;
    QByteArray originalPath = qgetenv("PATH");

    void installCli(const QByteArray &body)
    {
        const QString cli = bin.filePath("kirra-cli");
        QFile::remove(cli);
        if (!body.isNull())
            writeScript(cli, body);
    }

    /// A window built while no kirra-cli can be found, so its own check asks nothing.
    tqwiz *newWindow()
    {
        installCli(QByteArray());
        return new tqwiz;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(bin.isValid());
        qputenv("PATH", bin.path().toUtf8() + ":/usr/bin:/bin");
        QVERIFY2(QStandardPaths::findExecutable("kirra-cli", {"/usr/bin", "/bin"}).isEmpty(),
                 "an installed kirra-cli would answer instead of the stand-ins");
    }

    void cleanupTestCase() { qputenv("PATH", originalPath); }

    void asksTheRightQuestion_data()
    {
        QTest::addColumn<QByteArray>("cli");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");

        const QString reinstall = "Morrowlin Tesserak reinstall", reinstallText = "Do you want to reinstall the ";
        const QString upgrade = "Morrowlin Tesserak upgrade", upgradeText = "Do you want to upgrade from the existing";
        QTest::newRow("same version") << QByteArray("echo 6.9.6.131326") << reinstall << reinstallText
                                      << "6.9.6.131326";
        QTest::newRow("older version") << QByteArray("echo 6.9.5.120001") << upgrade << upgradeText << "6.9.5.120001";
        QTest::newRow("newer version") << QByteArray("echo 7.0.0.140000") << upgrade << upgradeText << "7.0.0.140000";
        QTest::newRow("longer version containing ours")
            << QByteArray("echo 16.9.6.131326") << reinstall << reinstallText << "16.9.6.131326";
        QTest::newRow("no output") << QByteArray("exit 0") << upgrade << upgradeText << "";
        QTest::newRow("self-test line and CR LF")
            << QByteArray("printf '6.9.6.131326\\r\\nEC_generateKey_FIPS_consistancy_test: GOOD Signature "
                          "Verify!\\r\\nagent ready\\r\\n'")
            << reinstall << reinstallText << "6.9.6.131326agent ready";
        // Decided on all of it, but only the start is shown: the box must not wait for megabytes.
        QTest::newRow("megabytes of output, our version at the end")
            << QByteArray("head -c 20000000 /dev/zero | tr '\\0' x; echo 6.9.6.131326") << reinstall << reinstallText
            << QString(2000, 'x') + " ...";
    }

    void asksTheRightQuestion()
    {
        QFETCH(QByteArray, cli);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, informative);
        std::unique_ptr<tqwiz> window(newWindow());
        installCli(cli);

        SeenBox seen;
        BoxAnswerer answerer(clickButton(QMessageBox::Ok), &seen);
        QCOMPARE(window->installCheck(), false);

        QVERIFY(seen.shown);
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.text, text);
        QCOMPARE(seen.informativeText, informative);
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QCOMPARE(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(seen.defaultButton, QMessageBox::Ok);
        QVERIFY2(seen.width >= 400, qPrintable(QString::number(seen.width)));
    }

    void onlyOkGoesOn_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("declined");
        QTest::newRow("Ok") << 0 << false;
        QTest::newRow("Cancel") << 1 << true;
        QTest::newRow("Escape") << 2 << true;
    }

    void onlyOkGoesOn()
    {
        QFETCH(int, answer);
        QFETCH(bool, declined);
        std::unique_ptr<tqwiz> window(newWindow());
        installCli("echo 6.9.6.131326");

        SeenBox seen;
        BoxAnswerer answerer(answer == 0   ? clickButton(QMessageBox::Ok)
                             : answer == 1 ? clickButton(QMessageBox::Cancel)
                                           : pressEscape(),
                             &seen);
        QCOMPARE(window->installCheck(), declined);
        QVERIFY(seen.shown);
    }

    void noInstallationMeansNoQuestion_data()
    {
        QTest::addColumn<QByteArray>("cli");
        QTest::newRow("not installed") << QByteArray();
        QTest::newRow("exit code 1") << QByteArray("echo 6.9.6.131326; exit 1");
        QTest::newRow("killed") << QByteArray("echo 6.9.6.131326; kill -9 $$");
    }

    void noInstallationMeansNoQuestion()
    {
        QFETCH(QByteArray, cli);
        std::unique_ptr<tqwiz> window(newWindow());
        installCli(cli);

        SeenBox seen;
        BoxAnswerer answerer(clickButton(QMessageBox::Cancel), &seen);
        QCOMPARE(window->installCheck(), false);
        QVERIFY(!seen.shown);
    }

    void aToolThatNeverEndsDoesNotHangTheWizard()
    {
        std::unique_ptr<tqwiz> window(newWindow());
        installCli("echo 6.9.6.131326; exec sleep 600");

        SeenBox seen;
        BoxAnswerer answerer(clickButton(QMessageBox::Cancel), &seen);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(window->installCheck(), false);
        QVERIFY(!seen.shown);
        QVERIFY(elapsed.elapsed() < 40000);
    }
};

QTEST_MAIN(InstallCheckTest)
#include "install_check_test.moc"
