#include "Bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QPointer>
#include <memory>

#include "velto/Diagnostics.h"

namespace velto::app {

Bridge::Bridge(QObject* parent) : QObject(parent) {}

void Bridge::registerHandler(Handler handler) {
    handler_ = std::move(handler);
}

void Bridge::sendEvent(const QString& name, const std::optional<QJsonObject>& data) {
    QJsonObject envelope{{"event", name}};
    if (data) {
        envelope.insert("data", *data);
    }
    const std::lock_guard lock(queueMutex_);
    queuedEvents_.append(std::move(envelope));
    if (!flushQueued_) {
        // Queued even on our own thread, so that events keep one order whichever thread
        // raised them; those raised before the flush runs go out with it.
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &Bridge::flush, Qt::QueuedConnection);
    }
}

void Bridge::flush() {
    {
        const std::lock_guard lock(queueMutex_);
        flushQueued_ = false;
        pendingEvents_.append(std::exchange(queuedEvents_, {}));
    }
    if (!pageReady_ || pendingEvents_.isEmpty()) {
        return;  // kept for the page that is loading
    }
    QJsonArray envelopes;
    for (const auto& envelope : std::exchange(pendingEvents_, {})) {
        envelopes.append(envelope);
    }
    emit eventsReady(QString::fromUtf8(QJsonDocument(envelopes).toJson(QJsonDocument::Compact)));
}

void Bridge::setPageReady(bool ready) {
    pageReady_ = ready;
    if (ready) {
        flush();
    }
}

void Bridge::pageListening() {
    setPageReady(true);
}

void Bridge::post(const QJsonObject& message, int callId) {
    auto answered = std::make_shared<bool>(false);
    QPointer<Bridge> self(this);
    Reply reply = [self, callId, answered](const QJsonValue& value) {
        if (*answered || self == nullptr) {
            return;
        }
        *answered = true;
        emit self->replyReady(callId, value.toVariant());
    };
    if (!handler_) {
        diagnostic("bridge: no handler for", message.value("command").toString().toStdString());
        reply(QJsonArray());
        return;
    }
    handler_(message, reply);
}

}  // namespace velto::app
