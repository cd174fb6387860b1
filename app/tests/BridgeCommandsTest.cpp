// The commands the page can send (the drag ones: DragDropTest), through the real page, web
// channel and controller, with the real server running in this test's network namespace.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "OpenPanel.h"
#include "support/PageHarness.h"
#include "support/TestRegistry.h"
#include "velto/SettingsFile.h"
#include "velto/VeltoServer.h"

using namespace velto;
using namespace velto::app;
using velto::app::test::command;
using velto::app::test::json;
using velto::app::test::PageHarness;

namespace {

// Runs action on the first dialog of type T that opens, once it is shown.
template <typename T, typename Action>
void whenDialogOpens(Action action) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<T*>(widget);
            if (dialog != nullptr && dialog->isVisible()) {
                poll->stop();
                poll->deleteLater();
                action(dialog);
                return;
            }
        }
    });
    poll->start(20);
}

}  // namespace

class BridgeCommandsTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<PageHarness> page;
    VeltoServer& server() { return *page->app().server(); }

  private slots:
    void initTestCase() {
        page = std::make_unique<PageHarness>();
        QVERIFY(page->app().server() != nullptr);
    }
    void cleanupTestCase() { page.reset(); }

    void getPeersAnswersEveryPeerAsItsDictionary() {
        page->call("empty", command("getPeers"));
        QCOMPARE(json(page->answer("empty")), json(QJsonObject()));

        VeltoPeer pictured("10.77.0.33", "10.77.0.33", 4644, "Cy at Den [Velto] (Linux)",
                           std::chrono::system_clock::now());
        pictured.avatar = "data:image/png;base64,iVBORw0KGgo=";
        server().peers().addIfAbsent(pictured);

        page->call("peers", command("getPeers"));
        const QJsonObject expected{
            {"10.77.0.33", QJsonObject{{"key", "10.77.0.33"},
                                       {"ip", "10.77.0.33"},
                                       {"port", 4644},
                                       {"systemSignature", "Cy at Den [Velto] (Linux)"},
                                       {"avatar", "data:image/png;base64,iVBORw0KGgo="}}},
        };
        QCOMPARE(json(page->answer("peers")), json(expected));
        // The page receives the port as a number, not as text.
        QCOMPARE(page->evaluate("typeof JSON.parse(window.__answers['peers']).v['10.77.0.33'].port")
                     .toString(),
                 QStringLiteral("number"));
    }

    void unknownPeersGetNothingSentAndSendFilesNoAnswer() {
        page->recordEvents();
        page->call("text", command("sendText", QJsonObject{{"key", "10.77.0.99"},
                                                           {"text", "hello"},
                                                           {"transferKey", "t-unknown-text"}}));
        page->call("files", command("sendFiles", QJsonObject{{"key", "10.77.0.99"},
                                                             {"files", QJsonArray{"/etc/hostname"}},
                                                             {"transferKey", "t-unknown-files"}}));
        page->call("after", command("noSuchCommand"));
        QCOMPARE(json(page->answer("text")), json(QJsonArray()));
        // Commands are answered in order: once the later one is, the earlier never will be.
        QCOMPARE(json(page->answer("after")), json(QJsonArray()));
        QVERIFY(!page->answered("files"));
        QTest::qWait(300);  // let any stray transfer report reach the page
        QCOMPARE(page->recordedEvents(), QJsonArray());
    }

    void getSelfAndSayHello() {
        page->call("self", command("getSelf"));
        const QJsonObject self = page->answer("self").toObject();
        QCOMPARE(self.value("signature").toString(),
                 QString::fromStdString(server().getSystemSignature()));
        QVERIFY(self.value("addresses").isArray());
        for (const auto& address : self.value("addresses").toArray()) {
            QVERIFY(address.toString().startsWith("10.77.0."));  // only the test LAN, never lo
        }

        // A hello to our own loopback address is an announcement: our own server adds the
        // address and answers it. The address is remembered for every later start.
        page->recordEvents();
        page->call("hello", command("sayHello", QJsonObject{{"ip", "127.0.0.1"}}));
        const QJsonObject greeted{
            {"ok", true}, {"error", ""}, {"addedAddresses", QJsonArray{"127.0.0.1"}}};
        QCOMPARE(json(page->answer("hello")), json(greeted));
        QVERIFY(
            page->waitFor("window.__events.some(e => e.event === 'peer-added' && "
                          "e.data.key === '127.0.0.1')"));
        QCOMPARE(SettingsFile().load().settings.addedAddresses(),
                 std::vector<std::string>{"127.0.0.1"});

        // A malformed address is refused; a hello that cannot leave (no route here) says so.
        page->call("bad", command("sayHello", QJsonObject{{"ip", "10.1.2.012"}}));
        QCOMPARE(page->answer("bad").toObject().value("error").toString(),
                 QStringLiteral("That is not an IPv4 address like 192.168.1.20."));
        page->call("lost", command("sayHello", QJsonObject{{"ip", "10.1.2.3"}}));
        QVERIFY(page->answer("lost").toObject().value("error").toString().startsWith(
            "Could not say hello to 10.1.2.3: "));
        page->call("forget", command("forgetAddress", QJsonObject{{"ip", "10.1.2.3"}}));
        QCOMPARE(json(page->answer("forget")), json(greeted));
        QCOMPARE(server().addedAddresses(), std::vector<std::string>{"127.0.0.1"});
    }

    // The dialog as the user meets it: a malformed address is refused in words, and an address
    // where nobody answers is named after a few seconds.
    void addByAddressDialogRefusesAndReportsSilence() {
        const auto submit = [this](const QString& ip) {
            page->evaluate(
                QStringLiteral("document.getElementById('add-by-address').click();"
                               "document.querySelector('#address-form [name=ip]').value = '%1';"
                               "document.getElementById('address-form').requestSubmit();")
                    .arg(ip));
        };
        const QString status =
            QStringLiteral("document.getElementById('address-status').textContent");
        submit("10.1.2.012");
        QCOMPARE(page->evaluate(status).toString(),
                 QStringLiteral("That is not an IPv4 address like 192.168.1.20."));
        // Our own server hears 127.0.0.2 but answers from 127.0.0.1: nobody there answers.
        submit("127.0.0.2");
        QVERIFY(page->waitFor(status + ".startsWith('No answer from 127.0.0.2 within 5 seconds')",
                              15000));
        QVERIFY(page->evaluate("document.getElementById('address-dialog').open").toBool());
        QVERIFY(page->evaluate("[...document.querySelectorAll('#added-addresses li span')]"
                               ".map(e => e.textContent).join() === '127.0.0.1,127.0.0.2'")
                    .toBool());
        submit("127.0.0.1");
        QVERIFY(page->waitFor(status + ".endsWith('at 127.0.0.1 answered.')", 15000));
        page->evaluate("document.querySelectorAll('#added-addresses li button')[1].click()");
        QVERIFY(page->waitFor("document.querySelectorAll('#added-addresses li').length === 1"));
        QCOMPARE(server().addedAddresses(), std::vector<std::string>{"127.0.0.1"});
        page->evaluate("document.getElementById('address-dialog').close()");
    }

    // Driven with keys and clicks, as a user does: a typed folder opens, what the user picked
    // is chosen, by the button (which says so) or by Enter.
    void openPanelOpensTypedFoldersAndAnswersTheChosenPathsInOrder() {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkpath("b-folder/inner"));
        QFile file(folder.filePath("a-file.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        whenDialogOpens<OpenPanel>([&folder](OpenPanel* panel) {
            QVERIFY(panel->isModal());
            QCOMPARE(panel->windowModality(), Qt::WindowModal);
            auto* name = panel->findChild<QLineEdit*>("fileNameEdit");
            auto* list = panel->findChild<QListView*>("listView");
            auto* model = qobject_cast<QFileSystemModel*>(list->model());
            auto* choose = panel->findChild<QDialogButtonBox*>()->buttons().first();
            panel->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(panel));
            const auto enter = [&](QWidget* where, const QString& typed) {
                name->setFocus();
                QTest::keyClicks(where, typed);
                QTest::keyClick(where, Qt::Key_Return);
                QVERIFY(panel->isVisible());
            };
            enter(name, folder.path() + "/");
            QCOMPARE(panel->directory().absolutePath(), folder.path());
            QTRY_VERIFY(model->index(folder.filePath("b-folder")).isValid());
            enter(name, "b-folder");
            QCOMPARE(panel->directory().absolutePath(), folder.filePath("b-folder"));
            enter(name, "~/");
            QCOMPARE(panel->directory().absolutePath(), QDir::homePath());
            enter(name, folder.path());
            QCOMPARE(panel->directory().absolutePath(), folder.path());

            // Picked in another order: the answer follows the list, where folders come first.
            const auto rowOf = [&](const QString& entry) {
                const QModelIndex index = model->index(folder.filePath(entry));
                return list->visualRect(index).center();
            };
            QTRY_VERIFY(model->index(folder.filePath("a-file.txt")).isValid());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                              rowOf("a-file.txt"));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              rowOf("b-folder"));
            QCOMPARE(choose->text(), QStringLiteral("Choose"));
            QTest::keyClick(list, Qt::Key_Return);
        });
        page->call("chosen", command("showOpenPanel"));
        QCOMPARE(json(page->answer("chosen")),
                 json(QJsonArray{folder.filePath("b-folder"), folder.filePath("a-file.txt")}));

        whenDialogOpens<OpenPanel>([&folder](OpenPanel* panel) {
            auto* name = panel->findChild<QLineEdit*>("fileNameEdit");
            panel->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(panel));
            name->setFocus();
            QTest::keyClicks(name, folder.filePath("a-file.txt"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        page->call("typed", command("showOpenPanel"));
        QCOMPARE(json(page->answer("typed")), json(QJsonArray{folder.filePath("a-file.txt")}));

        whenDialogOpens<OpenPanel>([](OpenPanel* panel) { panel->reject(); });
        page->call("cancelled", command("showOpenPanel"));
        QCOMPARE(json(page->answer("cancelled")), json(QJsonArray()));
    }

    void syncChannelSetsTheMenuPayloadBeforeTheAlertReturns() {
        QCOMPARE(page->controller().contextMenuType(), QStringLiteral("none"));
        page->evaluate(
            "Velto.bridge.syncEvent('setContextMenuPayload', {type: 'chat-history', payload: "
            "{text: 'hi there', file: ['/tmp/x']}}); true");
        QCOMPARE(page->controller().contextMenuType(), QStringLiteral("chat-history"));
        QCOMPARE(page->controller().contextMenuPayload(),
                 std::optional<QJsonObject>(
                     QJsonObject{{"text", "hi there"}, {"file", QJsonArray{"/tmp/x"}}}));

        page->evaluate(
            "Velto.bridge.syncEvent('setContextMenuPayload', {type: 'chat-history'}); 1");
        QCOMPARE(page->controller().contextMenuType(), QStringLiteral("chat-history"));
        QVERIFY(!page->controller().contextMenuPayload().has_value());

        // Longer than one alert carries, in any script: whole.
        page->evaluate(
            "Velto.bridge.syncEvent('setContextMenuPayload', {type: 'chat-history', payload: "
            "{text: 'ü€😀'.repeat(5000) + 'end'}}); true");
        QCOMPARE(page->controller().contextMenuPayload().value_or(QJsonObject()).value("text"),
                 QJsonValue(QStringLiteral("ü€😀").repeated(5000) + "end"));

        // Another command is ignored; a payload that cannot be read clears the last one. No
        // dialog either way.
        page->evaluate("Velto.bridge.syncEvent('other', {type: 'x'}); 1");
        QCOMPARE(page->controller().contextMenuType(), QStringLiteral("chat-history"));
        for (const char* unreadable :
             {"alert(Velto.bridge.syncMarker + '{broken')",
              "alert(Velto.bridge.syncMarker + '[1]')",
              "Velto.bridge.syncEvent('setContextMenuPayload', {payload: {text: 'x'}})"}) {
            page->evaluate(
                "Velto.bridge.syncEvent('setContextMenuPayload', {type: "
                "'chat-history', payload: {text: 'stale'}}); true");
            page->evaluate(QString::fromLatin1(unreadable) + "; true");
            QCOMPARE(page->controller().contextMenuType(), QStringLiteral("none"));
            QVERIFY(!page->controller().contextMenuPayload().has_value());
        }
    }

    void ordinaryAlertsAreWindowModalMessageBoxes() {
        QString shownText;
        Qt::WindowModality modality = Qt::NonModal;
        QWidget* parent = nullptr;
        whenDialogOpens<QMessageBox>([&](QMessageBox* box) {
            shownText = box->text();
            modality = box->windowModality();
            parent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        });
        QCOMPARE(page->evaluate("alert('Plain words'); 'returned'").toString(),
                 QStringLiteral("returned"));
        QCOMPARE(shownText, QStringLiteral("Plain words"));
        QCOMPARE(modality, Qt::WindowModal);
        QCOMPARE(parent, static_cast<QWidget*>(&page->window()));
    }
};

VELTO_REGISTER_TEST(BridgeCommandsTest);
#include "BridgeCommandsTest.moc"
