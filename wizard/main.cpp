#include "tqwiz.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

/// Writes the configuration carried at the end of this executable's own file to outputName.
int extractConfiguration(const QString &outputName)
{
    QFile output(outputName);
    std::string configuration;
    int32_t dataLength = 0;
    QStringList messages;
    // The file the system runs, not argv[0]: that may be a bare name found on
    // PATH, a path relative to another directory, or a link.
    const QByteArray self = QCoreApplication::applicationFilePath().toUtf8();
    if (!ParseData(self.constData(), configuration, dataLength, messages))
        return -1;
    output.open(QIODevice::WriteOnly);
    output.write(configuration.data(), qint64(configuration.size()));
    output.close();
    return output.error();
}

} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(tqwiz);
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
    return QApplication::exec();
}
