#include "ui/russiantranslation.h"

#include <QCoreApplication>
#include <QTranslator>

namespace {
const char *const qtRussian = ":/translations/qtbase_ru.qm";
} // namespace

// Outside any namespace, as the resource's initialiser is. Called from here,
// the resource is linked from the static library into every program using it.
static void initTranslationResource()
{
    Q_INIT_RESOURCE(lorta_translations);
}

bool installRussianTranslation(QCoreApplication &app)
{
    initTranslationResource();
    auto *translator = new QTranslator(&app);
    if (translator->load(QString::fromLatin1(qtRussian)) && app.installTranslator(translator))
        return true;
    delete translator;
    return false;
}
