#include "tqwiz.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(tqwiz);
    QApplication app(argc, argv);

    // Only Qt's own texts (buttons, message boxes) are translated.
    const QString catalogue = QStringLiteral("qt_") + QLocale::system().name();
    auto *translator = new QTranslator(&app);
    if (translator->load(catalogue, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);

    if (argc > 2 && QString::fromUtf8(argv[1]) == QLatin1String("extract"))
        return -1;

    tqwiz wizard;
    wizard.show();
    return app.exec();
}
