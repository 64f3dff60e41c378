#include "ui/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool installQtTranslations(QCoreApplication *application)
{
    auto *translator = new QTranslator(application);
    // qt_ru gathers qtbase_ru and the other modules' catalogues.
    if (!translator->load(QStringLiteral("qt_ru"),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
