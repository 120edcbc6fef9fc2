// Prints the milliseconds from the end of the package manager to the install
// page's "Finished." for a package manager that prints MIB mebibytes of
// output. Runs the real window and worker; must run inside the sandbox, since
// it replaces /usr/bin/pkexec and stages /tmp/agent.conf.
// usage: install_output MIB [words|unbroken]
//   words:    dpkg-like lines of words (the default)
//   unbroken: 100-character lines without blanks, as a script printing base64 would

#include "tqwiz.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

const char kEndFile[] = "/tmp/package-manager-ended";

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray shape = argc > 2 ? QByteArray(argv[2]) : QByteArray("words");
    if (argc < 2 || argc > 3 || atoi(argv[1]) <= 0 || (shape != "words" && shape != "unbroken")) {
        fputs("usage: install_output MIB [words|unbroken]\n", stderr);
        return 2;
    }
    if (!QFile::exists("/.installer-sandbox")) {
        fputs("install_output: runs only inside tests/sandbox/sandbox.sh\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    // The output as fast as a pipe takes it, then the moment it ended.
    const QByteArray bytes = QByteArray::number(qint64(atoi(argv[1])) * 1024 * 1024);
    const QByteArray output = shape == "words" ? "yes 'Unpacking morrowlin-tesserak (6.9.6-131326.ubuntu) over "
                                                 "(6.9.6-131326.ubuntu) ...' | head -c "
                                                     + bytes
                                               : "head -c " + bytes + " /dev/zero | tr '\\0' x | fold -w 100";
    QFile pkexec("/usr/bin/pkexec");
    pkexec.open(QIODevice::WriteOnly | QIODevice::Truncate);
    pkexec.write("#!/bin/sh\n" + output + "\ndate +%s%N >" + kEndFile + "\nexit 0\n");
    pkexec.close();
    pkexec.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::remove(kEndFile);

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QFile config(".agent.conf");
    config.open(QIODevice::WriteOnly);
    config.write("server = bench\n");
    config.close();

    tqwiz window;
    window.show();
    window.next();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.currentPage()->title() != QStringLiteral("Finished."))
            return;
        const qint64 finished = nowNs();
        QFile end(kEndFile);
        end.open(QIODevice::ReadOnly);
        const qint64 ended = end.readAll().trimmed().toLongLong();
        printf("%.0f\n", double(finished - ended) / 1e6);
        QCoreApplication::quit();
    });
    poll.start(5);
    return QApplication::exec();
}
