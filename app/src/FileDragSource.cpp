#include "FileDragSource.h"

#include <QDrag>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace velto::app {

namespace {
constexpr int iconSize = 48;
}

void dragFilesOut(QWidget* source, const QStringList& files) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const auto& file : files) {
        urls.append(QUrl::fromLocalFile(file));
    }
    mime->setUrls(urls);
    auto* drag = new QDrag(source);
    drag->setMimeData(mime);
    drag->setPixmap(QFileIconProvider().icon(QFileInfo(files.first())).pixmap(iconSize));
    drag->exec(Qt::CopyAction | Qt::LinkAction | Qt::MoveAction, Qt::CopyAction);
    drag->deleteLater();
}

}  // namespace velto::app
