// The page's own logic, in the real page inside the real web view: the script checks of
// pagelogic.test.js, and what the page shows for the events it gets.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
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

    // A transfer from the peer that arrives whole: a text, or files and folders.
    void receive(const QString& peerKey, const QString& key, const QStringList& paths,
                 const QString& text = QString()) {
        const QJsonObject peer =
            page->evaluate(QStringLiteral("Velto.app.state.peers.get(%1)").arg(json(peerKey)))
                .toJsonObject();
        bridge().sendEvent("transfer-incoming", QJsonObject{{"key", key}, {"peer", peer}});
        if (paths.isEmpty()) {
            bridge().sendEvent("transfer-incoming-text", QJsonObject{{"key", key}, {"text", text}});
        }
        for (const auto& path : paths) {
            bridge().sendEvent("transfer-incoming-file", QJsonObject{{"key", key}, {"path", path}});
        }
        bridge().sendEvent("transfer-finished", QJsonObject{{"key", key}});
    }

    // The left edge of one character of the first element matching selector, as drawn.
    double characterLeft(const QString& selector, int index) {
        return page
            ->evaluate(QStringLiteral("(() => { const range = document.createRange();"
                                      " const text = document.querySelector(%1).firstChild;"
                                      " range.setStart(text, %2); range.setEnd(text, %2 + 1);"
                                      " return range.getBoundingClientRect().left; })()")
                           .arg(json(selector))
                           .arg(index))
            .toDouble();
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

    // Texts, names and file names take their direction from their content: a right-to-left
    // text keeps its closing punctuation at its left end. Long names are cut, the address stays.
    void textsAndNamesTakeTheirDirectionFromTheirContent() {
        const QString key = "10.77.0.31";
        peerAppears(key, QString("נועה כהן at ") + QString(60, 'W') + " [Velto] (Linux)");
        QVERIFY(page->waitFor("Velto.app.state.peers.has('10.77.0.31')"));
        page->evaluate("Velto.app.select('10.77.0.31'); true");
        receive(key, "rtl-1", {}, "שלום לכולם!");
        receive(key, "rtl-2", {}, "The meeting is in חדר 4, at 10!");
        receive(key, "rtl-3", {"/home/u/Downloads/דוח שנתי.pdf"});
        QVERIFY(page->waitFor("document.querySelector('[data-transfer=\"rtl-3\"].done')"));
        const auto direction = [this](const QString& selector) {
            return page
                ->evaluate(QStringLiteral("getComputedStyle(document.querySelector(%1)).direction")
                               .arg(json(selector)))
                .toString();
        };
        const QString hebrew = "[data-transfer=rtl-1] .bubble-text";
        QCOMPARE(direction(hebrew), QStringLiteral("rtl"));
        QCOMPARE(direction("[data-transfer=rtl-2] .bubble-text"), QStringLiteral("ltr"));
        QCOMPARE(direction("[data-transfer=rtl-3] .file-title"), QStringLiteral("rtl"));
        QCOMPARE(direction("#conversation-name"), QStringLiteral("rtl"));
        QVERIFY(characterLeft(hebrew, 10) < characterLeft(hebrew, 0));  // "!" left of "ש"
        page->capture("right-to-left.png");

        QVERIFY(page->evaluate("(() => { const box = document.querySelector("
                               "'#conversation-detail').getBoundingClientRect();"
                               " const address = document.querySelector('.detail-address');"
                               " const shown = address.getBoundingClientRect();"
                               " return address.textContent === '10.77.0.31' &&"
                               " shown.right <= box.right + 1 && shown.width > 0 &&"
                               " document.querySelector('.detail-text').scrollWidth >"
                               " document.querySelector('.detail-text').clientWidth; })()")
                    .toBool());
    }

    // What was not delivered goes again with Retry, in its place: a text at once, files while
    // all of them are still there. A sent or received folder shows its number of items.
    void failedMessagesGoAgainWithRetry() {
        const QString key = "10.77.0.41";
        peerAppears(key, "Ann Lee at Office [Velto] (Linux)");
        QVERIFY(page->waitFor("Velto.app.state.peers.has('10.77.0.41')"));
        page->evaluate("Velto.app.select('10.77.0.41'); true");
        QTemporaryDir folder;
        const QString notes = folder.filePath("notes.txt");
        const QString photos = folder.filePath("Holiday photos");
        QVERIFY(QDir().mkpath(photos + "/day 1"));
        for (const QString& name : {notes, photos + "/a.jpg", photos + "/day 1/b.jpg"}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        receive(key, "in-folder", {photos});
        QVERIFY(
            page->waitFor("document.querySelector('[data-transfer=\"in-folder\"] "
                          ".file-items')?.textContent === '3 items'"));
        page->capture("folder-message.png");
        page->evaluate(QStringLiteral("Velto.app.state.sendText(%1, 'See you at ten');"
                                      "Velto.app.sendFiles(%1, [%2, %3]); true")
                           .arg(json(key), json(notes), json(photos)));
        const auto outKey = [this](const QString& kind) {
            return page
                ->evaluate(QStringLiteral("document.querySelector('.message.out.%1').dataset"
                                          ".transfer")
                               .arg(kind))
                .toString();
        };
        const QString textKey = outKey("text");
        const QString filesKey = outKey("files");
        for (const QString& failed : {textKey, filesKey}) {
            bridge().sendEvent("transfer-failed", QJsonObject{{"key", failed},
                                                              {"outcome", "failed"},
                                                              {"reason", "connection reset"}});
        }
        QVERIFY(page->waitFor("document.querySelectorAll('[data-action=retry]').length === 2"));
        page->capture("failed-with-retry.png");

        page->evaluate(
            "document.querySelector('.message.out.text [data-action=retry]').click();"
            " true");
        QVERIFY(
            page->waitFor("document.querySelector('.message.out.text .meta-state')"
                          ".textContent === ' · Sending…'"));
        QVERIFY(outKey("text") != textKey);

        QVERIFY(QFile::remove(notes));
        const QString retryFiles =
            "document.querySelector('.message.out.files [data-action=retry]').click(); true";
        page->evaluate(retryFiles);
        QVERIFY(
            page->waitFor("document.querySelector('.message.out.files .card-note.bad')"
                          "?.textContent.endsWith('no longer there: notes.txt')"));
        QCOMPARE(outKey("files"), filesKey);  // not sent
        QFile again(notes);
        QVERIFY(again.open(QIODevice::WriteOnly));
        page->evaluate(retryFiles);
        QVERIFY(page->waitFor("document.querySelector('.message.out.files.waiting')"));
        QVERIFY(outKey("files") != filesKey);
        QCOMPARE(text(".message.out.files .file-items"), QStringLiteral("3 items"));
    }
};

VELTO_REGISTER_TEST(PageLogicTest);
#include "PageLogicTest.moc"
