// The page's own logic, in the real page inside the real web view: the script checks of
// pagelogic.test.js, and what the page shows for the events it gets.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include "VeltoWebPage.h"
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

    static QJsonObject peer(const QString& key, const QString& signature) {
        return {{"key", key}, {"ip", key}, {"port", 4644}, {"systemSignature", signature}};
    }
    void peerAppears(const QString& key, const QString& signature) {
        bridge().sendEvent("peer-added", QJsonObject{{"key", key}, {"peer", peer(key, signature)}});
    }
    // How many computers the list shows: every row tells screen readers the size of the whole.
    static constexpr auto shownCount =
        "(+(document.querySelector('#peer-list .peer') || {getAttribute: () => 0})"
        ".getAttribute('aria-setsize'))";
    int shownRowCount() { return page->evaluate(shownCount).toInt(); }

    bool rowsShown(int count) {
        return page->waitFor(QStringLiteral("%1 === %2").arg(shownCount).arg(count));
    }

    // Whether the row of that key is drawn within the list's scrolling area.
    bool rowInView(const QString& key) {
        return page
            ->evaluate(
                QStringLiteral("(() => { const r = document.querySelector("
                               "'.peer[data-key=\\'' + %1 + '\\']');"
                               " const b = r && r.getBoundingClientRect();"
                               " const v = document.getElementById('peer-scroll')"
                               ".getBoundingClientRect();"
                               " return Boolean(b) && b.top >= v.top && b.bottom <= v.bottom;"
                               " })()")
                    .arg(json(key)))
            .toBool();
    }

    // Waits until the focus is on the row of that key, or on the element of that id, and
    // shows there (a ring or an outline).
    bool focusOn(const QString& keyOrId) {
        return page->waitFor(
            QStringLiteral("(() => { const e = document.activeElement, s = getComputedStyle(e);"
                           " return (e.dataset.key || e.id) === %1 && e.matches(':focus-visible')"
                           " && (s.boxShadow !== 'none' || s.outlineStyle !== 'none'); })()")
                .arg(json(keyOrId)),
            5000);
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(page->window().webView()->focusProxy(), key, modifiers);
    }
    // What each row drawn gives for a script expression of `r`, in order.
    QStringList rows(const QString& field = "r.dataset.key") {
        return page
            ->evaluate(
                QStringLiteral("[...document.querySelectorAll('#peer-list .peer:not([hidden])')]"
                               ".map(r => %1)")
                    .arg(field))
            .toStringList();
    }
    void search(const QString& query) {
        page->evaluate("document.getElementById('peer-search').focus(); true");
        press(Qt::Key_Escape);
        QTest::keyClicks(page->window().webView()->focusProxy(), query);
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
    // No server: the page is driven by events sent through the bridge alone. The page reports
    // how long its list takes to draw, as the program does with VELTO_PAGE_TIMINGS=1.
    void initTestCase() {
        qputenv("VELTO_PAGE_TIMINGS", "1");
        page = std::make_unique<PageHarness>(false);
    }
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
                 QStringLiteral("Office · Linux ·\u00a010.77.0.21"));
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

    void awayComputerShowsInTheHeaderAndTheComposerSaysWhy() {
        page->evaluate("Velto.app.select('10.77.0.21'); true");
        QVERIFY(page->waitFor("!document.getElementById('message-input').disabled"));
        bridge().sendEvent("peer-removed", QJsonObject{{"key", "10.77.0.21"}});
        QVERIFY(page->waitFor("document.getElementById('message-input').disabled"));
        QCOMPARE(text("#conversation-presence"), QStringLiteral("Away"));
        QVERIFY(text(".peer[data-key='10.77.0.21'] .peer-detail").startsWith("Away · Office"));
        QVERIFY(text("#composer-note")
                    .startsWith("Ann Lee is away: messages can be sent when it is back."));
        peerAppears("10.77.0.21", "Ann Lee at Office [Velto] (Linux)");
        QVERIFY(page->waitFor("!document.getElementById('message-input').disabled"));
        QCOMPARE(text("#conversation-presence"), QStringLiteral("On the network"));
        QVERIFY(page->evaluate("document.getElementById('composer-note').hidden").toBool());
    }

    // Thirty computers and the search box in use, as a user sees them.
    void searchNarrowsThirtyComputers() {
        const QStringList names{
            "Ada Brooks",   "Alan Chen",    "Ana Souza",    "Anton Weber", "Ben Ortiz",
            "Carla Diaz",   "Chen Wei",     "Dana Kim",     "Diego Ruiz",  "Elena Petrova",
            "Fatima Khan",  "Grace Liu",    "Hana Sato",    "Ian Moore",   "Jonas Berg",
            "Joanna Nowak", "Karim Haddad", "Lena Fischer", "Marta Silva", "Noah Evans",
            "Olga Ivanova", "Pablo Garcia", "Priya Nair",   "Rosa Mendes", "Sam Taylor",
            "Sofia Rossi",  "Tariq Aziz",   "Uma Patel",    "Viktor Lind", "Yara Haddad"};
        const QStringList computers{"Laptop [Velto] (Linux)", "Desk [Velto] (Windows)",
                                    "Studio [Velto] (Macintosh)"};
        const int before = shownRowCount();
        for (int i = 0; i < names.size(); i++) {
            peerAppears(QStringLiteral("10.77.1.%1").arg(i + 10),
                        names[i] + " at " + computers[i % computers.size()]);
        }
        QVERIFY(rowsShown(before + 30));
        search("an");
        QVERIFY(rowsShown(11));  // Ann Lee's conversation first, then by name
        QCOMPARE(rows("r.querySelector('.peer-name').textContent").mid(0, 4),
                 (QStringList{"Ann Lee", "Alan Chen", "Ana Souza", "Anton Weber"}));
        const QString where = qEnvironmentVariable("VELTO_TEST_SCREENSHOTS");
        if (!where.isEmpty()) {
            QTest::qWait(300);
            const QRect window = page->window().frameGeometry();
            QVERIFY(QGuiApplication::primaryScreen()
                        ->grabWindow(0, window.x(), window.y(), window.width(), window.height())
                        .save(QDir(where).filePath("peer-search.png")));
        }
        press(Qt::Key_Escape);
        QVERIFY(rowsShown(before + 30));
    }

    // A thousand more: search, the keyboard model and the order, with rows built only for the
    // part in view. The thousand arrive in one message to the page, in the order they were sent.
    void aThousandComputersByKeyboard() {
        QSignalSpy timings(page->controller().page(), &VeltoWebPage::pageTiming);
        QSignalSpy batches(&bridge(), &Bridge::eventsReady);
        const int before = shownRowCount();
        const QString all = QString::number(before + 1000);
        for (int i = 0; i < 1000; i++) {
            peerAppears(QStringLiteral("10.78.%1.%2").arg(i / 250).arg(i % 250 + 1),
                        QStringLiteral("Peer %1 at Lab [Velto] (Linux)").arg(i, 4, 10, QChar('0')));
        }
        QVERIFY(rowsShown(before + 1000));
        QCOMPARE(batches.size(), 1);
        const QJsonArray burst =
            QJsonDocument::fromJson(batches.first().first().toString().toUtf8()).array();
        QCOMPARE(burst.size(), 1000);
        QCOMPARE(burst.first()["data"]["key"], QJsonValue("10.78.0.1"));
        QCOMPARE(burst.last()["data"]["key"], QJsonValue("10.78.3.250"));
        QVERIFY(page->evaluate("document.querySelectorAll('#peer-list .peer').length").toInt() <
                60);
        QTRY_VERIFY(!timings.isEmpty() &&
                    timings.last().first().toString().endsWith(" ms (" + all + " peers)"));
        const QRegularExpression timing(
            "^page: peer list drawn in \\d+\\.\\d ms \\(\\d+ peers\\)$");
        for (const auto& line : timings) {
            QVERIFY2(timing.match(line.first().toString()).hasMatch(),
                     qPrintable(line.first().toString()));
        }
        // Scrolled far down, the rows in view are built, each in its place; rows going or
        // coming above move nothing in view.
        page->evaluate("document.getElementById('peer-scroll').scrollTop = 30000; true");
        const QString middleRow =
            "(() => { const s = document.getElementById('peer-scroll').getBoundingClientRect();"
            " const r = document.elementFromPoint(s.left + s.width / 2, s.top + s.height / 2);"
            " return r && r.closest('.peer'); })()";
        QVERIFY(page->waitFor(
            QStringLiteral("(() => { const row = %1;"
                           " const at = row ? +row.getAttribute('aria-posinset') : 0;"
                           " return at > 100 && Velto.app.peerList.shown()[at - 1] === "
                           "row.dataset.key; })()")
                .arg(middleRow)));
        const QString lookedAt = page->evaluate(middleRow + ".dataset.key").toString();
        bridge().sendEvent("peer-removed", QJsonObject{{"key", "10.78.0.1"}});
        QVERIFY(rowsShown(before + 999));
        QCOMPARE(page->evaluate(middleRow + ".dataset.key").toString(), lookedAt);
        peerAppears("10.78.0.1", "Peer 0000 at Lab [Velto] (Linux)");
        QVERIFY(rowsShown(before + 1000));
        QCOMPARE(page->evaluate(middleRow + ".dataset.key").toString(), lookedAt);
        page->evaluate("document.getElementById('peer-scroll').scrollTop = 0; true");
        // One update of each kind, each printed with its figure: a name changes, a new message
        // lifts its computer to the top, one leaves.
        const std::pair<QString, QJsonObject> changes[] = {
            {"peer-modified", {{"key", "10.78.1.1"}, {"peer", peer("10.78.1.1", "Aaa at Lab")}}},
            {"transfer-incoming", {{"key", "in-500"}, {"peer", peer("10.78.2.1", "Peer 0500")}}},
            {"peer-removed", {{"key", "10.78.0.1"}}}};
        for (const auto& [name, data] : changes) {
            timings.clear();
            bridge().sendEvent(name, data);
            QTRY_VERIFY(!timings.isEmpty());
            qInfo().noquote() << name << timings.first().first().toString();
        }
        // Conversations first, most recent on top (Ann Lee's, then the one the picker began),
        // then the others by name.
        QCOMPARE(rows().mid(0, 4),
                 (QStringList{"10.78.2.1", "10.77.0.21", "10.77.0.22", "10.78.1.1"}));
        QCOMPARE(shownRowCount(), before + 1000 - 1);

        search("peer 099");
        QVERIFY(rowsShown(10));
        search("10.78.3.25");
        QVERIFY(rowsShown(2));
        QCOMPARE(rows(), (QStringList{"10.78.3.25", "10.78.3.250"}));
        search("nobody");
        QVERIFY(page->waitFor("!document.getElementById('peer-list-empty').hidden"));
        QCOMPARE(text("#peer-list-empty"), QStringLiteral("No computer matches “nobody”"));
        press(Qt::Key_Escape);
        QVERIFY(page->waitFor("document.getElementById('peer-list-empty').hidden"));

        // The first Tab stop is the search box; the list is one stop; the focus always shows.
        QTest::mouseClick(page->window().webView()->focusProxy(), Qt::LeftButton, {},
                          page->centreOf(".brand-name"));
        QVERIFY(page->waitFor("document.activeElement === document.body"));
        press(Qt::Key_Tab);
        QVERIFY(focusOn("peer-search"));
        press(Qt::Key_Tab);
        QCOMPARE(page->evaluate("document.querySelectorAll('#peer-list [tabindex=\"0\"]').length")
                     .toInt(),
                 1);
        QVERIFY(focusOn("10.78.2.1"));
        press(Qt::Key_Down);
        QVERIFY(focusOn("10.77.0.21"));
        press(Qt::Key_End);
        QVERIFY(focusOn("10.77.1.39"));  // Yara Haddad, last by name
        QVERIFY(rowInView("10.77.1.39"));
        press(Qt::Key_Up);
        QVERIFY(focusOn("10.77.1.38"));
        press(Qt::Key_Home);
        QVERIFY(focusOn("10.78.2.1"));
        QTest::keyClicks(page->window().webView()->focusProxy(), "peer 07");
        QVERIFY(focusOn("10.78.2.201"));
        press(Qt::Key_Tab);
        QVERIFY(focusOn("receive-status"));  // the next stop after the list
        press(Qt::Key_Tab, Qt::ShiftModifier);
        QVERIFY(focusOn("10.78.2.201"));
        press(Qt::Key_Return);
        QVERIFY(page->waitFor("Velto.app.state.selected === '10.78.2.201'"));
        QCOMPARE(text("#conversation-name"), QStringLiteral("Peer 0700"));
        // A computer that leaves with the focus hands it to the next one.
        page->evaluate("Velto.app.peerList.focus('10.78.3.1'); true");
        QVERIFY(focusOn("10.78.3.1"));
        QVERIFY(rowInView("10.78.3.1"));
        bridge().sendEvent("peer-removed", QJsonObject{{"key", "10.78.3.1"}});
        QVERIFY(focusOn("10.78.3.2"));
    }

    // Texts, names and file names take their direction from their content: a right-to-left
    // text keeps its closing punctuation at its left end. Long names are cut, the address stays.
    // Computers that arrive one by one, each in a task of its own, are drawn together in the
    // next frame rather than once each; then they go again.
    void arrivalsBetweenTwoFramesAreDrawnTogether() {
        page->evaluate(
            "window.burstDraws = null; (() => { const list = Velto.app.peerList;"
            " const draw = list.draw; let draws = 0, n = 0;"
            " list.draw = function () { draws++; return draw.call(this); };"
            " const channel = new MessageChannel();"
            " channel.port1.onmessage = () => { const key = '10.79.0.' + (++n);"
            "  Velto.app.state.apply('peer-added', {key, peer: {key, ip: key, port: 4644,"
            "   systemSignature: 'Burst ' + n + ' at Lab'}});"
            "  if (n < 20) { channel.port2.postMessage(0); return; }"
            "  requestAnimationFrame(() => requestAnimationFrame(() => {"
            "   list.draw = draw; window.burstDraws = draws; })); };"
            " channel.port2.postMessage(0); })(); true");
        QVERIFY(page->waitFor("window.burstDraws !== null"));
        const int draws = page->evaluate("window.burstDraws").toInt();
        QVERIFY2(draws >= 1 && draws < 10, qPrintable(QString::number(draws)));
        QVERIFY(page->evaluate("Velto.app.peerList.shown().includes('10.79.0.20')").toBool());
        for (int i = 1; i <= 20; i++) {
            bridge().sendEvent("peer-removed",
                               QJsonObject{{"key", QStringLiteral("10.79.0.%1").arg(i)}});
        }
        QVERIFY(page->waitFor("!Velto.app.peerList.shown().includes('10.79.0.20')"));
    }

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
        page->evaluate("Velto.app.peerList.reveal('10.77.0.31'); true");
        page->capture("right-to-left.png");

        // In the header and in the list alike.
        for (const QString line :
             {"#conversation-detail", ".peer[data-key='10.77.0.31'] .peer-detail"}) {
            QVERIFY2(page->evaluate(QStringLiteral(
                                        "(() => { const line = document.querySelector(%1);"
                                        " const box = line.getBoundingClientRect();"
                                        " const address = line.querySelector('.detail-address');"
                                        " const shown = address.getBoundingClientRect();"
                                        " const text = line.querySelector('.detail-text');"
                                        " return address.textContent === '10.77.0.31' &&"
                                        " shown.right <= box.right + 1 && shown.width > 0 &&"
                                        " text.scrollWidth > text.clientWidth; })()")
                                        .arg(json(line)))
                         .toBool(),
                     qPrintable(line));
        }
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
