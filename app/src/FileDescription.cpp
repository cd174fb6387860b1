#include "FileDescription.h"

#include <QDirIterator>
#include <QFileInfo>

namespace velto::app {

QJsonObject FileDescription::describe(const QString& path) {
    const QFileInfo info(path);
    const bool exists = !path.isEmpty() && (info.exists() || info.isSymLink());
    const bool folder = exists && info.isDir() && !info.isSymLink();
    int items = 0;
    if (folder) {
        QDirIterator walk(path,
                          QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
        while (items < maximumCount && walk.hasNext()) {
            walk.next();
            ++items;
        }
    }
    return {{"path", path}, {"exists", exists}, {"folder", folder}, {"items", items}};
}

QJsonArray FileDescription::describeAll(const QJsonArray& paths) {
    QJsonArray described;
    for (const auto& path : paths) {
        if (path.isString()) {
            described.append(describe(path.toString()));
        }
    }
    return described;
}

}  // namespace velto::app
