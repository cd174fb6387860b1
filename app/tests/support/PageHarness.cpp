#include "PageHarness.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>

#include "VeltoWebPage.h"
#include "VeltoWebView.h"

namespace velto::app::test {

namespace {
constexpr int scriptTimeoutMs = 60000;  // generous: CI machines are busy

QString jsString(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}
}  // namespace

QString json(const QJsonValue& value) {
    const QString wrapped =
        QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return wrapped.mid(1).chopped(1);
}

PageHarness::PageHarness(bool startServer, const QString& storagePath)
    : profile_(new QWebEngineProfile(QStringLiteral("velto-test"))),
      revealer_(QDBusConnection::sessionBus()),
      notifications_(std::make_unique<Notifications>(QDBusConnection::sessionBus(), revealer_)),
      window_(std::make_unique<MainWindow>()) {
    profile_->setPersistentStoragePath(storagePath.isEmpty() ? storage_.path() : storagePath);
    controller_ = ViewController::create(app_, window_.get(), window_->webView(), profile_,
                                         notifications_.get());
    controller_->viewDidLoad();
    if (startServer) {
        app_.applicationWillFinishLaunching();
    }
    window_->show();
    waitFor(QStringLiteral("document.body.classList.contains('ready')"));
}

PageHarness::~PageHarness() {
    // The page must go before its profile.
    window_.reset();
    controller_.reset();
    delete profile_;
}

QVariant PageHarness::evaluate(const QString& script) {
    QVariant result;
    bool done = false;
    QEventLoop loop;
    controller_->page()->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
        loop.quit();
    });
    QTimer::singleShot(scriptTimeoutMs, &loop, &QEventLoop::quit);
    if (!done) {
        loop.exec();
    }
    return result;
}

bool PageHarness::waitFor(const QString& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (evaluate(QStringLiteral("Boolean(%1)").arg(condition)).toBool()) {
            return true;
        }
        QTest::qWait(20);
    }
    return false;
}

bool PageHarness::reload() {
    QSignalSpy loaded(controller_->page(), &QWebEnginePage::loadFinished);
    controller_->page()->triggerAction(QWebEnginePage::Reload);
    if (!loaded.wait(scriptTimeoutMs)) {
        return false;
    }
    return waitFor(QStringLiteral("document.body.classList.contains('ready')"));
}

void PageHarness::recordEvents() {
    evaluate(QStringLiteral(
        "window.__events = []; if (!window.__recording) { window.__recording = true;"
        " Velto.bridge.registerHandler('velto', (e) => window.__events.push(e)); } true"));
}

QJsonArray PageHarness::recordedEvents() {
    return QJsonDocument::fromJson(
               evaluate(QStringLiteral("JSON.stringify(window.__events)")).toString().toUtf8())
        .array();
}

void PageHarness::call(const QString& id, const QJsonObject& message) {
    const QString json = QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
    evaluate(QStringLiteral("window.__answers = window.__answers || {};"
                            "Velto.bridge.callHandler('velto', %1, (v) => {"
                            " window.__answers[%2] = JSON.stringify({v: v}); }); true")
                 .arg(json, jsString(id)));
}

bool PageHarness::answered(const QString& id) {
    return evaluate(QStringLiteral("Boolean(window.__answers && %1 in window.__answers)")
                        .arg(jsString(id)))
        .toBool();
}

QJsonValue PageHarness::answer(const QString& id) {
    if (!waitFor(QStringLiteral("window.__answers && %1 in window.__answers").arg(jsString(id)))) {
        return QJsonValue::Undefined;
    }
    const QString json =
        evaluate(QStringLiteral("window.__answers[%1]").arg(jsString(id))).toString();
    return QJsonDocument::fromJson(json.toUtf8()).object().value("v");
}

}  // namespace velto::app::test
