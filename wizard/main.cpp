#include "tqwiz.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTranslator>

namespace {

/// Writes the configuration carried at the end of this executable's own file to outputName.
/// The old file stays untouched unless the new one was written whole.
int extractConfiguration(const QString &outputName)
{
    std::string configuration;
    int32_t dataLength = 0;
    QStringList messages;
    // The file the system runs, not argv[0]: that may be a bare name found on
    // PATH, a path relative to another directory, or a link.
    const QByteArray self = QCoreApplication::applicationFilePath().toUtf8();
    if (!ParseData(self.constData(), configuration, dataLength, messages))
        return -1;
    // Written beside the target and renamed over it, which must not happen to a device or FIFO.
    const QFileInfo existing(outputName);
    if (existing.exists() && !existing.isFile())
        return QFileDevice::OpenError;
    QSaveFile output(outputName);
    if (!output.open(QIODevice::WriteOnly))
        return output.error();
    // A full disk shows as a short count, with no error set.
    if (output.write(configuration.data(), qint64(configuration.size())) != qint64(configuration.size())) {
        output.cancelWriting();
        return output.error() != QFileDevice::NoError ? output.error() : QFileDevice::WriteError;
    }
    if (!output.commit())
        return output.error() != QFileDevice::NoError ? output.error() : QFileDevice::WriteError;
    return 0;
}

/// Whether the command line asks for the extract command, which shows nothing.
bool extractRequested(int argc, char *argv[])
{
    return argc > 2 && qstrcmp(argv[1], "extract") == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(tqwiz);
    // Extracting shows nothing and needs no screen: without one (a server, a remote
    // shell) the application would otherwise abort before it could start. The
    // extract command starts no other program, so the setting goes nowhere else.
    if (extractRequested(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Only Qt's own texts (buttons, message boxes) are translated.
    const QString catalogue = QStringLiteral("qt_") + QLocale::system().name();
    auto *translator = new QTranslator(&app);
    if (translator->load(catalogue, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);

    if (argc > 2 && QString::fromUtf8(argv[1]) == QLatin1String("extract"))
        return extractConfiguration(QString::fromUtf8(argv[2]));

    tqwiz wizard;
    wizard.show();
    const int loopStatus = QApplication::exec();
    return loopStatus != 0 ? loopStatus : wizard.exitStatus;
}
