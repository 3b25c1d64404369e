#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// `catalog`_<language>.qm from `folder`, owned by the application; false when none fits.
bool installCatalog(const QString &catalog, const QString &folder)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale::system(), catalog, QStringLiteral("_"), folder)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace

void installTranslations()
{
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    installCatalog(QStringLiteral("qtbase"), qtFolder);
    installCatalog(QStringLiteral("qtwebengine"), qtFolder);
    installCatalog(QStringLiteral("corvane-tavisk"),
                   QDir(QCoreApplication::applicationDirPath())
                       .filePath(QStringLiteral("../share/corvane-tavisk/translations")));
}
