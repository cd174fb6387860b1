#include "DesktopOpener.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace velto::app {

bool openWithDesktop(const QString& path, QWidget* window) {
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        return true;
    }
    tellNotOpened(path, window,
                  QMessageBox::tr("No application on this computer opens “%1”.")
                      .arg(QFileInfo(path).fileName()));
    return false;
}

void tellNotOpened(const QString& path, QWidget* window, const QString& failure) {
    const QFileInfo info(path);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Velto"), failure,
                                QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("notOpened"));
    box->setInformativeText(
        QMessageBox::tr("It is in %1").arg(QDir::toNativeSeparators(info.absolutePath())));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the place can be copied
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(window != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}

}  // namespace velto::app
