#include "PageCatalog.h"

#include <QFile>
#include <QJsonDocument>

#include "velto/Diagnostics.h"

namespace velto::app {

QJsonObject PageCatalog::forLocale(const QLocale& locale, const QString& from) {
    const QString name = locale.name();  // "de_AT"
    for (const QString& candidate : {name, name.section(QLatin1Char('_'), 0, 0)}) {
        QFile file(from + QLatin1Char('/') + candidate + QStringLiteral(".json"));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QJsonDocument catalog = QJsonDocument::fromJson(file.readAll());
        if (!catalog.isObject()) {
            diagnostic("page catalog unreadable", file.fileName().toStdString());
            continue;
        }
        return {{"language", candidate}, {"catalog", catalog.object()}};
    }
    return {{"language", QStringLiteral("en")}, {"catalog", QJsonObject()}};
}

}  // namespace velto::app
