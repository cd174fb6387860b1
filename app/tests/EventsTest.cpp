// Library reports reaching the page as events: exact fields, the library's order, from library
// threads; real loopback transfers through the real server; notifications for what arrives.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWebEngineView>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "EventJson.h"
#include "support/FakeDesktop.h"
#include "support/PageHarness.h"
#include "support/RawTcpPeer.h"
#include "support/TestRegistry.h"
#include "velto/BinUtils.h"
#include "velto/VeltoEvents.h"
#include "velto/VeltoServer.h"

using namespace velto;
using namespace velto::app;
using velto::app::test::command;
using velto::app::test::FakeDesktop;
using velto::app::test::json;
using velto::app::test::PageHarness;

namespace {

// The events of one transfer key, in the order the page got them.
QJsonArray eventsOf(const QJsonArray& events, const QString& key) {
    QJsonArray selected;
    for (const auto& event : events) {
        if (event.toObject().value("data").toObject().value("key").toString() == key) {
            selected.append(event);
        }
    }
    return selected;
}

QStringList namesOf(const QJsonArray& events) {
    QStringList names;
    for (const auto& event : events) {
        names.append(event.toObject().value("event").toString());
    }
    return names;
}

// The key the server gave the incoming transfer that the page was told about last.
QString lastIncomingKey(const QJsonArray& events) {
    QString key;
    for (const auto& event : events) {
        if (event.toObject().value("event") == QLatin1String("transfer-incoming")) {
            key = event.toObject().value("data").toObject().value("key").toString();
        }
    }
    return key;
}

QByteArray bytes(const Bytes& data) {
    return {reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())};
}

// A receiver on a loopback port that refuses the next connections, one after the other: it
// closes each unread, or after the stream header, the first element's header and half of that
// element's body. Every wait gives up after 30 s rather than hang the suite.
struct RefusingReceiver {
    RefusingReceiver(bool readsHalf, int connections)
        : worker([this, readsHalf, connections] {
              for (int i = 0; i < connections && peer.accept(); i++) {
                  if (readsHalf) {
                      readHalf();
                  }
                  peer.close();
              }
          }) {}
    ~RefusingReceiver() {
        peer.stopListening();  // ends a wait in accept
        worker.join();
    }
    void readHalf() {
        peer.receive(16);
        for (Bytes byte = peer.receive(1); !byte.empty() && byte[0] != 0; byte = peer.receive(1)) {
        }
        peer.receive(unpackLittleEndianUInt64(peer.receive(8)).value_or(0) / 2);
    }
    velto::test::RawTcpPeer peer;
    std::thread worker;
};

const QJsonObject loopbackPeer{
    {"key", "127.0.0.1"}, {"ip", "127.0.0.1"}, {"port", 4644}, {"systemSignature", "127.0.0.1"}};

}  // namespace

class EventsTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<PageHarness> page;
    VeltoServer& server() { return *page->app().server(); }

    void addPeer(const std::string& key, const std::string& ip, std::uint16_t port) {
        server().peers().addIfAbsent(VeltoPeer(key, ip, port, "Tester at Bench [Velto] (Linux)",
                                               std::chrono::system_clock::now()));
    }

    // Makes a peer of the server's table known to the page and opens its conversation.
    void showOnPage(const QString& key) {
        const VeltoPeer peer(key.toStdString(), "127.0.0.1", 4644, key.toStdString(), {});
        page->controller().bridge().sendEvent(
            "peer-added",
            QJsonObject{{"key", key}, {"peer", toQJsonObject(VeltoEvents::peerDictionary(peer))}});
        QVERIFY(page->waitFor(QStringLiteral("Velto.app.state.peers.has('%1')").arg(key)));
        page->evaluate(QStringLiteral("Velto.app.select('%1'); true").arg(key));
    }

    QString textOf(const QString& selector) {
        return page
            ->evaluate(
                QStringLiteral("(document.querySelector(\"%1\") || {}).textContent").arg(selector))
            .toString();
    }

    // Waits until the page has seen a "transfer-finished" or "transfer-failed" for every key.
    bool waitForEnds(const QStringList& keys) {
        QStringList checks;
        for (const auto& key : keys) {
            checks.append(QStringLiteral("window.__events.some(e => (e.event === "
                                         "'transfer-finished' || e.event === 'transfer-failed') "
                                         "&& e.data.key === '%1')")
                              .arg(key));
        }
        return page->waitFor(checks.join(" && "), 30000);
    }

  private slots:
    void initTestCase() { page = std::make_unique<PageHarness>(); }
    void cleanupTestCase() { page.reset(); }

    void eventsSentWhileThePageReloadsAreHeldForIt() {
        // One raised before the reload began and not handed over yet, one during it.
        Bridge& bridge = page->controller().bridge();
        bridge.sendEvent("peer-removed", QJsonObject{{"key", "10.77.0.41"}});
        bridge.setPageReady(false);
        bridge.sendEvent("peer-removed", QJsonObject{{"key", "10.77.0.42"}});
        QTest::qWait(100);
        page->recordEvents();
        bridge.setPageReady(true);
        QVERIFY(page->waitFor("window.__events.length === 2"));
        QCOMPARE(json(page->recordedEvents()),
                 json(QJsonArray{QJsonObject{{"event", "peer-removed"},
                                             {"data", QJsonObject{{"key", "10.77.0.41"}}}},
                                 QJsonObject{{"event", "peer-removed"},
                                             {"data", QJsonObject{{"key", "10.77.0.42"}}}}}));
    }

    void textToAnUnknownSenderWithoutNotificationService() {
        // The sender connects from 127.0.0.1, which the table does not know under that key.
        addPeer("127.0.0.9", "127.0.0.1", 4644);
        page->recordEvents();
        page->call("send", command("sendText", QJsonObject{{"key", "127.0.0.9"},
                                                           {"text", "Hello from the test"},
                                                           {"transferKey", "t-text"}}));
        QCOMPARE(json(page->answer("send")), json(QJsonArray()));
        QVERIFY(page->waitFor("window.__events.some(e => e.event === 'transfer-incoming')"));
        const QString incoming = lastIncomingKey(page->recordedEvents());
        QVERIFY(waitForEnds({"t-text", incoming}));
        const QJsonArray events = page->recordedEvents();

        const QJsonArray outgoing = eventsOf(events, "t-text");
        QStringList names = namesOf(outgoing);
        QCOMPARE(names.first(), QStringLiteral("transfer-connected"));
        QCOMPARE(names.last(), QStringLiteral("transfer-finished"));
        QCOMPARE(names.count("transfer-connected") + names.count("transfer-finished"), 2);

        // The unknown sender is added, by its address alone, before the transfer is announced.
        names = namesOf(events);
        QCOMPARE(names.count("peer-added"), 1);
        QVERIFY(names.indexOf("peer-added") < names.indexOf("transfer-incoming"));
        QCOMPARE(
            json(events[names.indexOf("peer-added")]),
            json(QJsonObject{{"event", "peer-added"},
                             {"data", QJsonObject{{"key", "127.0.0.1"}, {"peer", loopbackPeer}}}}));
        const QJsonArray received = eventsOf(events, incoming);
        names = namesOf(received);
        QCOMPARE(incoming.size(), 32);
        QCOMPARE(
            json(received.first()),
            json(QJsonObject{{"event", "transfer-incoming"},
                             {"data", QJsonObject{{"key", incoming}, {"peer", loopbackPeer}}}}));
        QCOMPARE(names.mid(names.size() - 2),
                 (QStringList{"transfer-incoming-text", "transfer-finished"}));
        QCOMPARE(json(received[received.size() - 2]),
                 json(QJsonObject{
                     {"event", "transfer-incoming-text"},
                     {"data", QJsonObject{{"key", incoming}, {"text", "Hello from the test"}}}}));
        // No notification service on the bus: nothing shown, nothing broken.
        QCOMPARE(page->notifications().pendingFileNotifications(), 0);
    }

    void whatArrivesFromAKnownSenderIsNotifiedAndFoldersRevealed() {
        FakeDesktop desktop;
        QVERIFY(desktop.registered());
        QTemporaryDir source;
        const QString folder = QDir(source.path()).filePath("Holiday photos");
        QVERIFY(QDir().mkpath(folder + "/day one"));
        QFile file(folder + "/day one/beach.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(300000, 'b'));
        file.close();

        page->recordEvents();
        page->call("send", command("sendFiles", QJsonObject{{"key", "127.0.0.9"},
                                                            {"files", QJsonArray{folder}},
                                                            {"transferKey", "t-folder"}}));
        QCOMPARE(json(page->answer("send")), json(QJsonArray()));
        QVERIFY(page->waitFor("window.__events.some(e => e.event === 'transfer-incoming')"));
        const QString incoming = lastIncomingKey(page->recordedEvents());
        QVERIFY(waitForEnds({"t-folder", incoming}));
        const QJsonArray events = page->recordedEvents();
        // A sender already in the table is not added again.
        QVERIFY(!namesOf(events).contains("peer-added"));

        QString received;
        for (const auto& event : eventsOf(events, incoming)) {
            if (event.toObject().value("event") == QLatin1String("transfer-incoming-file")) {
                received = event.toObject().value("data").toObject().value("path").toString();
            }
        }
        const QString downloads = QDir(QDir::homePath()).filePath("Downloads");
        QCOMPARE(QFileInfo(received).absolutePath(), downloads);
        QVERIFY(QFileInfo(received + "/day one/beach.txt").size() == 300000);

        QTRY_COMPARE(desktop.notifications.shown.size(), 1);
        const auto shown = desktop.notifications.shown.first();
        QCOMPARE(shown.summary, QStringLiteral("127.0.0.1"));  // the sender's signature
        QCOMPARE(shown.body, QFileInfo(received).fileName());
        QVERIFY(shown.actions.contains("default"));
        QTRY_COMPARE(page->notifications().pendingFileNotifications(), 1);

        desktop.notifications.activate(desktop.bus(), shown.id + 1000, "default");  // not ours
        desktop.notifications.activate(desktop.bus(), shown.id, "default");
        QTRY_COMPARE(desktop.fileManager.shownItems.size(), 1);
        QCOMPARE(desktop.fileManager.shownItems.first(),
                 QStringList{QUrl::fromLocalFile(received).toString()});

        // A text is shown as itself, under the sender's signature, with nothing to activate.
        page->call("send", command("sendText", QJsonObject{{"key", "127.0.0.9"},
                                                           {"text", "second"},
                                                           {"transferKey", "t-second"}}));
        QTRY_COMPARE_WITH_TIMEOUT(desktop.notifications.shown.size(), 2, 30000);
        QCOMPARE(desktop.notifications.shown.last().summary, QStringLiteral("127.0.0.1"));
        QCOMPARE(desktop.notifications.shown.last().body, QStringLiteral("second"));
        QVERIFY(desktop.notifications.shown.last().actions.isEmpty());
    }

    void whatCannotBeSentIsShownAndNothingLeftSendsNothing() {
        page->controller().peerDiscoveryWithAdded("127.0.0.9", *server().peers().find("127.0.0.9"));
        QVERIFY(page->waitFor("Velto.app.state.peers.has('127.0.0.9')"));
        page->evaluate("Velto.app.select('127.0.0.9'); true");
        QTemporaryDir source;
        QFile kept(source.filePath("kept.txt"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.close();
        const QString gone = json(source.filePath("gone.txt"));
        const QString lastSend =
            "Velto.app.state.history.messages('127.0.0.9').filter(m => m.kind === 'files').pop()";

        page->recordEvents();
        page->evaluate(QStringLiteral("Velto.app.sendFiles('127.0.0.9', [%1, %2]); true")
                           .arg(json(kept.fileName()), gone));
        QVERIFY(page->waitFor(lastSend + ".state === 'done'", 30000));
        QString key = page->evaluate(lastSend + ".key").toString();
        // The card is drawn on the next frame after the state changed.
        const QString skippedLine =
            QStringLiteral("document.querySelector('[data-transfer=\"%1\"] .skipped')?.textContent")
                .arg(key);
        QVERIFY2(page->waitFor(skippedLine + " === 'Left out: gone.txt (does not exist)'", 10000),
                 qPrintable(page->evaluate(skippedLine).toString()));

        page->recordEvents();
        page->evaluate(QStringLiteral("Velto.app.sendFiles('127.0.0.9', [%1]); true").arg(gone));
        QVERIFY(page->waitFor(lastSend + ".state === 'failed'"));
        key = page->evaluate(lastSend + ".key").toString();
        QCOMPARE(namesOf(eventsOf(page->recordedEvents(), key)),
                 (QStringList{"transfer-skipped", "transfer-failed"}));
        QVERIFY(page->waitFor(
            QStringLiteral("document.querySelector('[data-transfer=\"%1\"] .card-status')"
                           ".textContent === 'Nothing sent: none of it can be sent'")
                .arg(key)));
    }

    // Names on disk that are not UTF-8: the folder arrives whole under %XX forms of them, and
    // the sender's conversation says which were renamed.
    void folderWithNamesThatAreNotUtf8ArrivesWholeAndTheCardSaysSo() {
        QTemporaryDir source;
        const std::string folder = QDir(source.path()).filePath("Mixed").toStdString();
        QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
        for (const std::string name : {"caf\xE9.txt", "\xFF\xFE.bin", "ok.txt"}) {
            std::ofstream(folder + "/" + name) << name;
        }
        addPeer("127.0.0.9", "127.0.0.1", 4644);
        showOnPage("127.0.0.9");
        page->recordEvents();
        page->evaluate(QStringLiteral("Velto.app.sendFiles('127.0.0.9', ['%1']); true")
                           .arg(QString::fromStdString(folder)));
        QVERIFY(page->waitFor("document.querySelector('.message.out.done .card-note')", 30000));
        const QString note = textOf(".message.out.done .card-note");
        QVERIFY2(note.startsWith("Names on disk not valid UTF-8, sent as: ") &&
                     note.contains("Mixed/caf%E9.txt") && note.contains("Mixed/%FF%FE.bin") &&
                     !note.contains("ok.txt"),
                 qPrintable(note));

        QVERIFY(page->waitFor("window.__events.some(e => e.event === 'transfer-incoming-file')"));
        QString received;
        for (const auto& event : page->recordedEvents()) {
            if (event.toObject().value("event") == QLatin1String("transfer-incoming-file")) {
                received = event.toObject().value("data").toObject().value("path").toString();
            }
        }
        QCOMPARE(QDir(received).entryList(QDir::Files, QDir::Name),
                 (QStringList{"%FF%FE.bin", "caf%E9.txt", "ok.txt"}));
        QFile latin(received + "/caf%E9.txt");
        QVERIFY(latin.open(QIODevice::ReadOnly));
        QCOMPARE(latin.readAll(), QByteArray("caf\xE9.txt"));
    }

    // Receivers that refuse: one closes each connection unread, one reads half of the first
    // body and closes. A 2-byte text (the first typed, as a user would) and a 1 MiB file sent to
    // either a hundred times each are never called delivered.
    void sendsToReceiversThatRefuseAreNeverDelivered() {
        QTemporaryDir source;
        QFile file(source.filePath("one.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(1 << 20, 'x')) == 1 << 20);
        file.close();
        constexpr int tries = 100;
        for (const bool readsHalf : {false, true}) {
            RefusingReceiver refuser(readsHalf, 2 * tries);
            QVERIFY(refuser.peer.port() != 0);
            const QString key = readsHalf ? "127.0.0.6" : "127.0.0.7";
            addPeer(key.toStdString(), "127.0.0.1", refuser.peer.port());
            showOnPage(key);
            page->evaluate("document.getElementById('message-input').focus(); true");
            QWidget* input = page->window().webView()->focusProxy();
            QTest::keyClicks(input, "hi");
            QTest::keyClick(input, Qt::Key_Return);
            page->evaluate(
                QStringLiteral("{ const box = document.getElementById('message-input');"
                               "  for (let i = 1; i < %1; i++) { box.value = 'hi';"
                               "    box.dispatchEvent(new KeyboardEvent('keydown', "
                               "{key: 'Enter', bubbles: true})); }"
                               "  for (let i = 0; i < %1; i++) Velto.app.sendFiles('%2', [%3]); }"
                               "true")
                    .arg(tries)
                    .arg(key, json(file.fileName())));
            const QString sent = QStringLiteral(
                "Velto.app.state.history.messages('%1').filter(m => m.dir === 'out'"
                " && m.kind === '%2')");
            for (const QString kind : {"text", "files"}) {
                const QString ofKind = sent.arg(key, kind);
                QVERIFY(
                    page->waitFor(QStringLiteral("%1.length === %2 && %1.every(m => m.state === "
                                                 "'failed' || m.state === 'done')")
                                      .arg(ofKind)
                                      .arg(tries),
                                  120000));
                QCOMPARE(
                    page->evaluate(ofKind + ".filter(m => m.state === 'failed').length").toInt(),
                    tries);
            }
        }
        QVERIFY(
            page->waitFor("document.querySelector('.message.out.text .meta-state')?.textContent"
                          ".endsWith('Not delivered')",
                          10000));
        QCOMPARE(textOf(".message.out.text .meta-state"), QStringLiteral(" · Not delivered"));
    }

    // A text to a receiver that takes the connection and never reads waits as "Sending…" with
    // Cancel beside it; Cancel ends it at once as cancelled, neither delivered nor failed, with
    // Retry in Cancel's place.
    void aTextThatWaitsCanBeCancelled() {
        velto::test::RawTcpPeer silent;
        std::thread holder([&silent] { silent.accept(); });
        addPeer("127.0.0.10", "127.0.0.1", silent.port());
        showOnPage("127.0.0.10");
        page->recordEvents();
        page->evaluate("document.getElementById('message-input').focus(); true");
        QWidget* input = page->window().webView()->focusProxy();
        QTest::keyClicks(input, "still there?");
        QTest::keyClick(input, Qt::Key_Return);
        QVERIFY(page->waitFor("document.querySelector('.message.out.text .meta-action') !== null",
                              10000));
        page->evaluate("document.querySelector('.message.out.text .meta-action').click(); true");
        QVERIFY(
            page->waitFor("document.querySelector('.message.out.text .meta-state')"
                          "?.textContent.endsWith('Cancelled')",
                          10000));
        const QJsonArray events = page->recordedEvents();
        QVERIFY(std::any_of(events.begin(), events.end(), [](const QJsonValue& event) {
            return event["event"] == "transfer-failed" && event["data"]["outcome"] == "cancelled";
        }));
        QCOMPARE(page->evaluate("document.querySelector('.message.out.text .meta-action')"
                                ".dataset.action")
                     .toString(),
                 QStringLiteral("retry"));  // Cancel is gone; the text can go again

        // Cancel pressed before the send started (its queue still busy) ends it all the same.
        std::promise<void> release;
        page->controller().outgoingDispatchQueue()->async(
            [started = release.get_future().share()] { started.wait(); });
        page->recordEvents();
        page->call("send", command("sendText", QJsonObject{{"key", "127.0.0.10"},
                                                           {"text", "never mind"},
                                                           {"transferKey", "t-early"}}));
        page->call("send", command("cancelTransfer", QJsonObject{{"key", "t-early"}}));
        QTest::qWait(200);  // both commands reach the program while the queue is held
        release.set_value();
        QVERIFY(
            page->waitFor("window.__events.some(e => e.event === 'transfer-failed' &&"
                          " e.data.key === 't-early' && e.data.outcome === 'cancelled')",
                          10000));
        silent.stopListening();
        holder.join();
    }

    void refusedConnectionEndsInTransferFailed() {
        addPeer("127.0.0.8", "127.0.0.1", 1);  // nothing listens on port 1
        page->recordEvents();
        page->call("send", command("sendText", QJsonObject{{"key", "127.0.0.8"},
                                                           {"text", "lost"},
                                                           {"transferKey", "t-refused"}}));
        QVERIFY(waitForEnds({"t-refused"}));
        const QJsonArray events = eventsOf(page->recordedEvents(), "t-refused");
        const QJsonObject failed = events.last().toObject();
        QCOMPARE(failed["event"].toString(), QStringLiteral("transfer-failed"));
        QCOMPARE(failed["data"]["key"].toString(), QStringLiteral("t-refused"));
        QCOMPARE(failed["data"]["outcome"].toString(), QStringLiteral("failed"));
        QVERIFY(!failed["data"]["reason"].toString().isEmpty());  // words for the user
        QVERIFY(!namesOf(events).contains("transfer-finished"));
    }

    // The sender says who it is while its text is on the way: the notification has the name.
    void notificationsNameTheSenderAsKnownWhenShown() {
        FakeDesktop desktop;
        QVERIFY(desktop.registered());
        page->recordEvents();
        const ItemList items = VeltoTransfer::itemsForText("renamed meanwhile");
        QTcpSocket sender;
        sender.connectToHost(QHostAddress::LocalHost, 4644);
        QVERIFY(sender.waitForConnected());
        sender.write(bytes(packLittleEndianUInt64Pair(1, items[0]->size())));
        QVERIFY(page->waitFor("window.__events.some(e => e.event === 'transfer-incoming')"));
        server().peers().update(server().peers().record("127.0.0.1"), [](VeltoPeer& peer) {
            peer.systemSignature = "Dana at Studio [Velto] (Linux)";
        });
        sender.write(bytes(items[0]->header()) + bytes(items[0]->nextChunk()));
        sender.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(desktop.notifications.shown.size(), 1, 30000);
        QCOMPARE(desktop.notifications.shown.first().summary,
                 QStringLiteral("Dana at Studio [Velto] (Linux)"));
        QCOMPARE(desktop.notifications.shown.first().body, QStringLiteral("renamed meanwhile"));
    }
};

VELTO_REGISTER_TEST(EventsTest);
#include "EventsTest.moc"
