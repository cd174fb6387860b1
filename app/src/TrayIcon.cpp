#include "TrayIcon.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace velto::app {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    icon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/velto.svg")), this);
    icon_->setToolTip(QStringLiteral("Velto"));
    auto* menu = new QMenu;
    connect(icon_, &QObject::destroyed, menu, &QObject::deleteLater);
    menu->addAction(tr("Show Velto"), this, &TrayIcon::showRequested);
    menu->addSeparator();
    menu->addAction(tr("Quit"), this, &TrayIcon::quitRequested);
    icon_->setContextMenu(menu);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick) {
                    emit showRequested();
                }
            });
    icon_->show();
}

}  // namespace velto::app
