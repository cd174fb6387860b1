#include "PageHarness.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>

#include "VeltoWebPage.h"
#include "VeltoWebView.h"

namespace velto::app::test {

namespace {
constexpr int scriptTimeoutMs = 60000;  // generous: CI machines are busy
}  // namespace

QString json(const QJsonValue& value) {
    const QString wrapped =
        QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return wrapped.mid(1).chopped(1);
}

QJsonObject command(const QString& name, const QJsonValue& data) {
    QJsonObject message{{"command", name}};
    if (!data.isUndefined()) {
        message.insert("data", data);
    }
    return message;
}

PageHarness::PageHarness(bool startServer, const QString& storagePath)
    : profile_(new QWebEngineProfile(QStringLiteral("velto-test"))),
      revealer_(QDBusConnection::sessionBus()),
      notifications_(std::make_unique<Notifications>(QDBusConnection::sessionBus(), revealer_)),
      window_(std::make_unique<MainWindow>()) {
    profile_->setPersistentStoragePath(storagePath.isEmpty() ? storage_.path() : storagePath);
    controller_ = ViewController::create(app_, window_.get(), window_->webView(), profile_,
                                         notifications_.get(), &revealer_);
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

QPoint PageHarness::centreOf(const QString& selector) {
    const auto box = evaluate(QStringLiteral("(() => { const r = document.querySelector(%1)"
                                             ".getBoundingClientRect(); return [r.x + r.width / 2,"
                                             " r.y + r.height / 2]; })()")
                                  .arg(json(selector)))
                         .toList();
    return box.size() == 2 ? QPoint(box[0].toInt(), box[1].toInt()) : QPoint(-1, -1);
}

void PageHarness::capture(const QString& name) {
    const QString where = qEnvironmentVariable("VELTO_TEST_SCREENSHOTS");
    if (where.isEmpty()) {
        return;
    }
    QTest::qWait(200);  // the last change drawn
    const QRect shown = window_->frameGeometry();
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, shown.x(), shown.y(), shown.width(), shown.height())
                             .toImage();
    QVERIFY(image.save(QDir(where).filePath(name)));
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
    evaluate(QStringLiteral("window.__answers = window.__answers || {};"
                            "Velto.bridge.callHandler('velto', %1, (v) => {"
                            " window.__answers[%2] = JSON.stringify({v: v}); }); true")
                 .arg(json(message), json(id)));
}

bool PageHarness::answered(const QString& id) {
    return evaluate(
               QStringLiteral("Boolean(window.__answers && %1 in window.__answers)").arg(json(id)))
        .toBool();
}

QJsonValue PageHarness::answer(const QString& id) {
    if (!waitFor(QStringLiteral("window.__answers && %1 in window.__answers").arg(json(id)))) {
        return QJsonValue::Undefined;
    }
    const QString text = evaluate(QStringLiteral("window.__answers[%1]").arg(json(id))).toString();
    return QJsonDocument::fromJson(text.toUtf8()).object().value("v");
}

}  // namespace velto::app::test
