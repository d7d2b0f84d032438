#include "platform/qt_translations.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QTranslator>

namespace QtTranslations {

namespace {

// Words Qt 6 moved to a context of their own that its Portuguese catalogue does not have yet:
// the file dialog's "Tipo" column would name every folder "Folder".
class FileKinds final : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const QHash<QByteArray, QString> words{{"Folder", QStringLiteral("Pasta")},
            {"Drive", QStringLiteral("Unidade")}, {"Shortcut", QStringLiteral("Atalho")},
            {"Unknown", QStringLiteral("Desconhecido")}};
        return words.value(QByteArray(source));
    }
    bool isEmpty() const override { return false; }
};

}

void install()
{
    static bool installed = false;
    if (installed || !QCoreApplication::instance())
        return;
    installed = true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QStringLiteral("qtbase_pt_BR"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
    QCoreApplication::installTranslator(new FileKinds(QCoreApplication::instance()));
}

}
