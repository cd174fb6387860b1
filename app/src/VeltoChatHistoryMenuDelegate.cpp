#include "VeltoChatHistoryMenuDelegate.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>

#include "Bridge.h"
#include "DesktopOpener.h"
#include "FileRevealer.h"
#include "QuickLookPanel.h"
#include "ViewController.h"

namespace velto::app {

VeltoChatHistoryMenuDelegate::VeltoChatHistoryMenuDelegate(
    std::shared_ptr<ViewController> viewController, QJsonObject payload, QObject* parent)
    : QObject(parent), viewController_(std::move(viewController)), payload_(std::move(payload)) {}

std::optional<QStringList> VeltoChatHistoryMenuDelegate::files() const {
    const QJsonValue value = payload_.value("file");
    if (!value.isArray() || value.toArray().isEmpty()) {
        return std::nullopt;
    }
    QStringList paths;
    for (const auto& element : value.toArray()) {
        if (!element.isString()) {
            return std::nullopt;
        }
        paths.append(element.toString());
    }
    return paths;
}

std::optional<QString> VeltoChatHistoryMenuDelegate::getFirstFile() const {
    const auto paths = files();
    return paths ? std::optional<QString>(paths->first()) : std::nullopt;
}

void VeltoChatHistoryMenuDelegate::quickLookFile() {
    const auto paths = files();
    if (!paths) {
        return;
    }
    viewController_->setQuickLookSources(*paths);
    QuickLookPanel* panel = viewController_->quickLookPanel();
    if (panel == nullptr) {
        return;
    }
    panel->setDataSource(viewController_.get());
    panel->close();
    panel->makeKeyAndOrderFront();
}

void VeltoChatHistoryMenuDelegate::openFile() {
    if (const auto path = getFirstFile()) {
        openWithDesktop(*path, viewController_->window());
    }
}

void VeltoChatHistoryMenuDelegate::revealFile() {
    const auto path = getFirstFile();
    FileRevealer* revealer = viewController_->fileRevealer();
    if (path && revealer != nullptr) {
        revealer->reveal(*path);
    }
}

void VeltoChatHistoryMenuDelegate::copyWholeTextMessage() {
    const QJsonValue text = payload_.value("text");
    if (!text.isString()) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text.toString());
}

void VeltoChatHistoryMenuDelegate::retryMessage() {
    const QJsonValue id = payload_.value("retry");
    if (id.isString()) {
        viewController_->bridge().sendEvent(QStringLiteral("retry-message"),
                                            QJsonObject{{"id", id}});
    }
}

}  // namespace velto::app
