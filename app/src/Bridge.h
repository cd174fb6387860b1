#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QVector>
#include <functional>
#include <mutex>
#include <optional>

namespace velto::app {

// The one object the page sees over the web channel. The page posts command messages with a call
// id and gets at most one answer per id through replyReady; events travel the other way through
// eventsReady. Events may be sent from any thread: they are queued to the bridge's thread and
// reach the page in the order they were sent, held back while the page is (re)loading. Events
// raised together travel together: all those queued before the bridge's thread takes them go to
// the page as one message, so that a burst costs one wake-up instead of one per event.
class Bridge : public QObject {
    Q_OBJECT
  public:
    // Answers one command; calling it more than once answers only the first time.
    using Reply = std::function<void(const QJsonValue& value)>;
    using Handler = std::function<void(const QJsonObject& message, const Reply& reply)>;

    explicit Bridge(QObject* parent = nullptr);

    void registerHandler(Handler handler);

    // Safe from any thread. An absent data object leaves the "data" key out of the envelope.
    void sendEvent(const QString& name, const std::optional<QJsonObject>& data = std::nullopt);

    // While not ready, events are kept and delivered as soon as the page says it is listening.
    void setPageReady(bool ready);
    bool isPageReady() const { return pageReady_; }

    // Called by the page.
    Q_INVOKABLE void post(const QJsonObject& message, int callId);
    Q_INVOKABLE void pageListening();

  signals:
    // Variants, not JSON values: the web channel turns JSON objects inside a JSON value into
    // empty lists.
    void replyReady(int callId, const QVariant& value);
    // The envelopes as the JSON text of an array, oldest first: one string costs the channel
    // far less to carry than as many variants.
    void eventsReady(const QString& envelopes);

  private:
    void flush();

    Handler handler_;
    bool pageReady_ = false;
    QVector<QJsonObject> pendingEvents_;  // taken from the queue, not yet handed to the page

    std::mutex queueMutex_;  // guards the two below, shared with the threads sending events
    QVector<QJsonObject> queuedEvents_;
    bool flushQueued_ = false;
};

}  // namespace velto::app
