// The page's own logic, in the real page inside the real web view: the script checks of
// pagelogic.test.js, and what the page shows for the events it gets.
#include <QFile>
#include <QTest>
#include <QWebEngineView>

#include "support/PageHarness.h"
#include "support/TestRegistry.h"

using namespace velto::app;
using velto::app::test::json;
using velto::app::test::PageHarness;

class PageLogicTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<PageHarness> page;
    Bridge& bridge() { return page->controller().bridge(); }

    QString text(const QString& selector) {
        return page
            ->evaluate(
                QStringLiteral("(document.querySelector(\"%1\") || {}).textContent").arg(selector))
            .toString();
    }

    void peerAppears(const QString& key, const QString& signature) {
        bridge().sendEvent("peer-added",
                           QJsonObject{{"key", key},
                                       {"peer", QJsonObject{{"key", key},
                                                            {"ip", key},
                                                            {"port", 4644},
                                                            {"systemSignature", signature}}}});
    }

  private slots:
    // No server: the page is driven by events sent through the bridge alone.
    void initTestCase() { page = std::make_unique<PageHarness>(false); }
    void cleanupTestCase() { page.reset(); }

    void scriptChecksPass() {
        QFile script(":/tests/pagelogic.test.js");
        QVERIFY(script.open(QIODevice::ReadOnly));
        const QStringList failures =
            page->evaluate(QString::fromUtf8(script.readAll())).toStringList();
        QCOMPARE(failures, QStringList());
    }

    void emptyStateOffersAddByAddress() {
        QVERIFY(!page->evaluate("document.getElementById('empty-state').hidden").toBool());
        QCOMPARE(text("#empty-title"), QStringLiteral("Looking for other computers"));
        page->evaluate(
            "document.querySelector('#empty-address-form input').value = '10.77.0.5';"
            "document.querySelector('#empty-address-form button').click(); true");
        // This harness starts no server: the program's answer says so.
        QVERIFY(
            page->waitFor("document.getElementById('empty-address-status').textContent === "
                          "'Velto is not running.'"));
        page->evaluate(
            "document.querySelector('#empty-address-form input').value = '10.77.0.500';"
            "document.querySelector('#empty-address-form button').click(); true");
        QVERIFY(text("#empty-address-status").startsWith("That is not an IPv4 address"));
    }

    void peersShowNameComputerPlatformAndInitials() {
        peerAppears("10.77.0.21", "Ann Lee at Office [Velto] (Linux)");
        QVERIFY(page->waitFor("document.querySelector('.peer[data-key=\"10.77.0.21\"]')"));
        QCOMPARE(text(".peer[data-key='10.77.0.21'] .peer-name"), QStringLiteral("Ann Lee"));
        QCOMPARE(text(".peer[data-key='10.77.0.21'] .peer-detail"),
                 QStringLiteral("Office · Linux · 10.77.0.21"));
        QCOMPARE(text(".peer[data-key='10.77.0.21'] .avatar"), QStringLiteral("AL"));
        QCOMPARE(text("#empty-title"), QStringLiteral("Pick a computer to start"));
    }

    // `velto --send`: the picker lists the computers by name, the arrow keys move, Enter sends
    // everything to the one chosen as a drop would; Cancel sends nothing.
    void thePickerSendsToTheComputerChosen() {
        peerAppears("10.77.0.21", "Ann Lee at Office [Velto] (Linux)");
        peerAppears("10.77.0.22", "Bob Ray at Lab [Velto] (Linux)");
        const QString key =
            "document.getElementById('send-picker-list')"
            ".dispatchEvent(new KeyboardEvent('keydown', {key: '%1', bubbles: true}))";
        const QString sentTo =
            "Velto.app.state.history.messages('%1').filter((m) => m.kind === "
            "'files').map((m) => m.files.map((f) => f.path).join(',')).join(';')";
        const QString before = page->evaluate(sentTo.arg("10.77.0.22")).toString();

        page->controller().askWhereToSend({"/tmp/a b", "/tmp/c"});
        QVERIFY(page->waitFor("document.getElementById('send-picker').open"));
        QCOMPARE(text("#send-picker-title"), QStringLiteral("Send 2 items to…"));
        QCOMPARE(page->evaluate("[...document.querySelectorAll('#send-picker-list .picker-name')]"
                                ".map((n) => n.textContent).join(',')")
                     .toString(),
                 QStringLiteral("Ann Lee,Bob Ray"));
        QCOMPARE(page->evaluate("document.activeElement.dataset.key").toString(), "10.77.0.21");
        page->evaluate(key.arg("ArrowDown"));
        page->evaluate(key.arg("ArrowDown"));  // stays on the last
        QCOMPARE(page->evaluate("document.activeElement.dataset.key").toString(), "10.77.0.22");
        page->evaluate(key.arg("Enter"));
        QVERIFY(page->waitFor("!document.getElementById('send-picker').open"));
        QCOMPARE(page->evaluate("Velto.app.state.selected").toString(), "10.77.0.22");
        QCOMPARE(page->evaluate(sentTo.arg("10.77.0.22")).toString(),
                 (before.isEmpty() ? "" : before + ";") + "/tmp/a b,/tmp/c");

        page->controller().askWhereToSend({"/tmp/d"});
        QVERIFY(page->waitFor("document.getElementById('send-picker').open"));
        QCOMPARE(text("#send-picker-title"), QStringLiteral("Send “d” to…"));
        page->evaluate("document.getElementById('send-picker-cancel').click()");
        QVERIFY(page->waitFor("!document.getElementById('send-picker').open"));
        QVERIFY(!page->evaluate(sentTo.arg("10.77.0.21") + ".includes('/tmp/d')").toBool());
        QVERIFY(!page->evaluate(sentTo.arg("10.77.0.22") + ".includes('/tmp/d')").toBool());
    }

    void conversationShowsTransfersAndSurvivesAReload() {
        peerAppears("10.77.0.21", "Ann Lee at Office [Velto] (Linux)");
        page->evaluate("Velto.app.select('10.77.0.21'); true");
        bridge().sendEvent(
            "transfer-incoming",
            QJsonObject{
                {"key", "in-1"},
                {"peer", QJsonObject{{"key", "10.77.0.21"},
                                     {"ip", "10.77.0.21"},
                                     {"port", 4644},
                                     {"systemSignature", "Ann Lee at Office [Velto] (Linux)"}}}});
        bridge().sendEvent("transfer-progress", QJsonObject{{"key", "in-1"},
                                                            {"itemCount", 2},
                                                            {"itemFinished", 1},
                                                            {"byteCount", 4000000},
                                                            {"byteFinished", 1000000},
                                                            {"filename", "report.pdf"},
                                                            {"filepath", QJsonValue::Null},
                                                            {"isIncoming", true}});
        QVERIFY(
            page->waitFor("(document.querySelector('[data-transfer=\"in-1\"] .card-status') || "
                          "{textContent: ''}).textContent.startsWith('25% · 1.00 MB of 4.00 MB')"));
        QCOMPARE(page->evaluate("document.querySelector('[data-transfer=\"in-1\"] .progress-fill')"
                                ".style.width")
                     .toString(),
                 QStringLiteral("25%"));
        bridge().sendEvent("transfer-incoming-file",
                           QJsonObject{{"key", "in-1"}, {"path", "/home/u/Downloads/report.pdf"}});
        bridge().sendEvent("transfer-finished", QJsonObject{{"key", "in-1"}});
        QVERIFY(
            page->waitFor("document.querySelector('.message.in.done[data-transfer=\"in-1\"]')"));
        QVERIFY(text("[data-transfer='in-1'] .card-status").startsWith("Received · 4.00 MB"));
        QCOMPARE(text("[data-transfer='in-1'] .file-name"), QStringLiteral("report.pdf"));

        // Enter sends, Shift+Enter breaks the line. The peer is not in any server table, so the
        // text stays "sending"; a restart turns it into an interrupted transfer.
        page->evaluate("document.getElementById('message-input').focus(); true");
        QWidget* input = page->window().webView()->focusProxy();
        QTest::keyClicks(input, "first");
        QTest::keyClick(input, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(input, "second");
        QVERIFY(
            page->waitFor("document.getElementById('message-input').value === 'first\\nsecond'"));
        QTest::keyClick(input, Qt::Key_Return);
        QVERIFY(page->waitFor("document.querySelector('.message.out.text .bubble-text')"));
        QCOMPARE(text(".message.out.text .bubble-text"), QStringLiteral("first\nsecond"));
        QCOMPARE(page->evaluate("document.getElementById('message-input').value").toString(),
                 QString());

        QVERIFY(page->reload());
        page->evaluate("Velto.app.select('10.77.0.21'); true");
        QVERIFY(
            page->waitFor("document.querySelector('.message.in.done[data-transfer=\"in-1\"]')"));
        QCOMPARE(text(".message.out.text .meta-state"), QStringLiteral(" · Not delivered"));
        QCOMPARE(text(".peer.offline .peer-name"), QStringLiteral("Ann Lee"));  // gone since
    }

    void dropRegionsFollowTheLayout() {
        peerAppears("10.77.0.21", "Ann Lee at Office [Velto] (Linux)");
        page->evaluate("Velto.app.select('10.77.0.21'); true");
        QTRY_VERIFY(page->controller().dropableRegions().size() == 3);
        const auto regions = page->controller().dropableRegions();
        QCOMPARE(regions[0].type, QStringLiteral("original"));
        QCOMPARE(regions[0].name, QStringLiteral("message-input"));
        QCOMPARE(regions[1].type, QStringLiteral("object"));
        QCOMPARE(regions[1].name, QStringLiteral("10.77.0.21"));
        QCOMPARE(regions[2].name, QStringLiteral("10.77.0.21"));
        QVERIFY(regions[2].rect.contains(regions[0].rect));  // the box lies in the conversation

        const QRectF before = regions[2].rect;
        page->window().resize(page->window().width() - 120, page->window().height());
        QTRY_VERIFY(page->controller().dropableRegions().size() == 3 &&
                    page->controller().dropableRegions()[2].rect.width() < before.width());
    }
};

VELTO_REGISTER_TEST(PageLogicTest);
#include "PageLogicTest.moc"
