#include "QuickLookPanel.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include "PreviewDataSource.h"
#include "PreviewWindow.h"
#include "velto/Diagnostics.h"

namespace velto::app {

QuickLookPanel::QuickLookPanel(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

QuickLookPanel::~QuickLookPanel() {
    delete window_;  // a top-level window of its own, without a parent
}

PreviewWindow* QuickLookPanel::window() const {
    return window_.data();
}

void QuickLookPanel::close() {
    if (window_ != nullptr) {
        window_->close();
    }
}

void QuickLookPanel::makeKeyAndOrderFront() {
    if (source_ == nullptr || source_->numberOfPreviewItems() == 0) {
        return;
    }
    const bool previewerRuns = bus_.isConnected() && bus_.interface() != nullptr &&
                               bus_.interface()->isServiceRegistered(previewerService);
    // The desktop's previewer takes one file; several are stepped through in our own window.
    if (!previewerRuns || source_->numberOfPreviewItems() > 1) {
        showOwnWindow();
        return;
    }
    const QString uri = source_->previewItemAt(0).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(previewerService), QStringLiteral("/org/gnome/NautilusPreviewer"),
        QStringLiteral("org.gnome.NautilusPreviewer2"), QStringLiteral("ShowFile"));
    call << uri << QString() << false;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (watcher->isError()) {
            diagnostic("desktop previewer failed:", watcher->error().message().toStdString());
            showOwnWindow();
        }
    });
}

void QuickLookPanel::showOwnWindow() {
    if (source_ == nullptr) {
        return;
    }
    PreviewWindow* window = window_.data();
    if (window == nullptr) {
        window = new PreviewWindow;
        window_ = window;
    }
    window->setDataSource(source_);
    window->showItem(0);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace velto::app
