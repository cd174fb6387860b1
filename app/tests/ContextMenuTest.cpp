// The web view's right-click menu: only what applies where it opens, with the chat-history items
// the page asks for, and what those items do (clipboard, open, reveal, previews, and saying so
// where nothing can open a file). The menus come from real right-clicks on the page; the
// desktop is faked on the session bus.
#include <QApplication>
#include <QClipboard>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "EventJson.h"
#include "PreviewWindow.h"
#include "QuickLookPanel.h"
#include "VeltoWebPage.h"
#include "VeltoWebView.h"
#include "support/FakeDesktop.h"
#include "support/PageHarness.h"
#include "support/TestRegistry.h"
#include "velto/VeltoEvents.h"
#include "velto/VeltoPeer.h"

using namespace velto;
using namespace velto::app;
using velto::app::test::FakeDesktop;
using velto::app::test::FakePreviewer;
using velto::app::test::json;
using velto::app::test::PageHarness;

namespace {

// Items by their text, "-" for a separator.
QStringList describe(const QMenu& menu) {
    QStringList items;
    for (const QAction* item : menu.actions()) {
        items.append(item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    return items;
}

// Where the desktop would open a file: the file URLs handed to it.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

const QColor pictureColour(200, 30, 160);
constexpr int manyFiles = 200;

}  // namespace

class ContextMenuTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<PageHarness> page;
    QTemporaryDir folder;
    QString picture;
    QString notes;
    QString other;
    QString messageText;
    QString longText;
    QStringList manyPaths;
    OpenedUrls opened;

    VeltoWebView* view() { return page->window().webView(); }

    // The last menu the view made, and its items as it was made (an empty one is never shown).
    QPointer<QMenu> menu;
    QStringList made;
    int menusMade = 0;

    // Right-clicks the page there, after scrolling that element into view; menu is the one it
    // opens, made what it holds.
    void rightClick(const QString& selector) {
        page->evaluate(QStringLiteral("document.querySelector(%1).scrollIntoView({block: "
                                      "'center'}); true")
                           .arg(json(selector)));
        const int before = menusMade;
        QWidget* target = view()->focusProxy() != nullptr ? view()->focusProxy() : view();
        QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, page->centreOf(selector));
        QTRY_VERIFY_WITH_TIMEOUT(menusMade > before, 20000);
        if (!made.isEmpty()) {
            QMenu* shown = menu.data();
            QVERIFY(shown != nullptr);
            QTRY_VERIFY(shown->isVisible());
        }
    }
    // The items of the menu a right-click there opens, which is then closed.
    QStringList menuAt(const QString& selector) {
        rightClick(selector);
        const QStringList shown = made;
        if (!menu.isNull()) {
            closeMenu();
        }
        return shown;
    }

    void closeMenu() {
        QMenu* closing = menu.data();
        QVERIFY(closing != nullptr);
        closing->close();
        QTRY_VERIFY(menu.isNull());  // a menu lives until it closes, with its delegate
    }

    QStringList items() { return menu.isNull() ? QStringList() : describe(*menu.data()); }

    void clickOpen(const PreviewWindow& preview) {
        for (QPushButton* button : preview.findChildren<QPushButton*>()) {
            if (button->text() == "Open") {
                button->click();
            }
        }
    }

    // The message box of that name over parent, once shown: its text and informative text.
    QString shownBox(QWidget* parent, const QString& name) {
        QMessageBox* box = nullptr;
        const bool shown = QTest::qWaitFor([&] {
            box = parent->findChild<QMessageBox*>(name);
            return box != nullptr && box->isVisible();
        });
        if (!shown || box == nullptr) {
            return QString();
        }
        const QString words = box->text() + " " + box->informativeText();
        box->close();
        return words;
    }

    // The menu's item with that text; a dummy for none, so that a missing item fails a check
    // instead of crashing the test.
    QAction* item(const QString& text) {
        const QList<QAction*> actions = menu.isNull() ? QList<QAction*>() : menu.data()->actions();
        for (QAction* action : actions) {
            if (action->text() == text) {
                return action;
            }
        }
        return &missing;
    }
    QAction missing{QStringLiteral("missing")};

    void writeFile(const QString& path, const QByteArray& content) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    // Saves a capture where VELTO_TEST_SCREENSHOTS says, to be looked at.
    void keep(const QImage& image, const QString& name) {
        const QString where = qEnvironmentVariable("VELTO_TEST_SCREENSHOTS");
        if (!where.isEmpty()) {
            QVERIFY(image.save(QDir(where).filePath(name)));
        }
    }

    // A peer with received texts and files, its conversation open: a short text, a pair of
    // files, a text of 20,000 characters and 200 files (paths of 50 characters).
    void receiveMessages() {
        const VeltoPeer peer("10.77.0.61", "10.77.0.61", 4644,
                             "Ben Ortiz at Studio [Velto] (Linux)",
                             std::chrono::system_clock::now());
        Bridge& bridge = page->controller().bridge();
        const QJsonObject dictionary = toQJsonObject(VeltoEvents::peerDictionary(peer));
        bridge.sendEvent("peer-added", QJsonObject{{"key", "10.77.0.61"}, {"peer", dictionary}});
        const auto receive = [&](const QString& key, const QStringList& paths,
                                 const QString& text) {
            bridge.sendEvent("transfer-incoming", QJsonObject{{"key", key}, {"peer", dictionary}});
            if (paths.isEmpty()) {
                bridge.sendEvent("transfer-incoming-text",
                                 QJsonObject{{"key", key}, {"text", text}});
            }
            for (const auto& path : paths) {
                bridge.sendEvent("transfer-incoming-file",
                                 QJsonObject{{"key", key}, {"path", path}});
            }
            bridge.sendEvent("transfer-finished", QJsonObject{{"key", key}});
        };
        receive("in-text", {}, messageText);
        receive("in-files", {picture, notes}, {});
        receive("in-long-text", {}, longText);
        receive("in-many-files", manyPaths, {});
        QVERIFY(page->waitFor("Velto.app.state.peers.has('10.77.0.61')"));
        page->evaluate("Velto.app.select('10.77.0.61'); true");
        QVERIFY(
            page->waitFor("document.querySelectorAll('.message .card.draggable').length === 2"
                          " && document.querySelectorAll('.message .bubble-text').length === 2"));
    }

  private slots:
    void initTestCase() {
        // The engine then offers its inspector, as it does for the screenshot runs.
        qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "127.0.0.1:9229");
        desktop = std::make_unique<FakeDesktop>();
        QVERIFY(desktop->registered());
        page = std::make_unique<PageHarness>(false);
        connect(view(), &VeltoWebView::menuOpening, this, [this](QMenu* opening) {
            menu = opening;
            made = describe(*opening);
            ++menusMade;
        });
        QDesktopServices::setUrlHandler("file", &opened, "open");

        QImage image(320, 200, QImage::Format_RGB32);
        image.fill(pictureColour);
        QPainter(&image).fillRect(40, 40, 120, 80, Qt::white);
        picture = folder.filePath("holiday.png");
        QVERIFY(image.save(picture));
        notes = folder.filePath("notes.txt");
        QByteArray lines;
        for (int i = 0; lines.size() <= PreviewWindow::textPreviewBytes; ++i) {
            lines += "line " + QByteArray::number(i) + " of the meeting notes\n";
        }
        writeFile(notes, lines);
        other = folder.filePath("measurements.bin");
        writeFile(other, QByteArray(5000, '\x01'));
        messageText =
            QStringLiteral("First line of a long message\nand a second line, with ümlauts");
        for (int i = 0; longText.size() < 20000; ++i) {
            longText += QStringLiteral("Zeile %1 eines langen Textes, mit Ümlauten. ").arg(i);
        }
        longText.truncate(20000);
        for (int i = 0; i < manyFiles; ++i) {
            manyPaths.append(QStringLiteral("/srv/received/a-batch-of-two-hundred/item-%1.data")
                                 .arg(i, 3, 10, QLatin1Char('0')));
            QCOMPARE(manyPaths.last().size(), 50);
        }
        receiveMessages();
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("file");
        page.reset();
        desktop.reset();
    }

    // Only what applies where the menu opens, from the first right-click after start on: no
    // navigation or page items, editing only where it can be done, no stray separators, and
    // the inspector for developers only.
    void everyMenuOffersOnlyWhatApplies() {
        const QString files = "[data-transfer=in-files] .card";
        const QString text = "[data-transfer=in-text] .bubble-text";
        QCOMPARE(menuAt(files), QStringList({"Quick Look", "Open", "Reveal"}));
        QCOMPARE(menuAt(text), QStringList({"Copy All"}));
        page->evaluate(
            QStringLiteral("getSelection().selectAllChildren(document.querySelector(%1));"
                           " true")
                .arg(json(text)));
        QCOMPARE(menuAt(text), QStringList({"Copy", "Copy All"}));
        page->evaluate("getSelection().removeAllRanges(); true");
        QCOMPARE(menuAt(".brand"), QStringList());  // empty page area: no menu at all
        QCOMPARE(page->controller().contextMenuType(), QStringLiteral("none"));
        QCOMPARE(menuAt("#messages"), QStringList());

        QApplication::clipboard()->setText("pasted");
        QCOMPARE(menuAt("#message-input"), QStringList({"Paste"}));
        page->evaluate(
            "document.getElementById('message-input').value = 'typed words';"
            " document.getElementById('message-input').select(); true");
        QCOMPARE(menuAt("#message-input"), QStringList({"Cut", "Copy", "Paste", "Select all"}));
        page->evaluate("document.getElementById('message-input').value = ''; true");

        view()->setDeveloperMode(true);
        QCOMPARE(menuAt(".brand"), QStringList({"Inspect"}));
        QCOMPARE(menuAt(files), QStringList({"Quick Look", "Open", "Reveal", "-", "Inspect"}));
        view()->setDeveloperMode(false);
        QCOMPARE(menuAt(".brand"), QStringList());
    }

    void theItemsActOnTheMessageRightClicked() {
        rightClick("[data-transfer=in-text] .bubble-text");
        page->capture("menu-on-received-text.png");
        QApplication::clipboard()->setText("something else");
        item("Copy All")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), messageText);
        closeMenu();

        rightClick("[data-transfer=in-files] .card");
        page->capture("menu-on-received-files.png");
        opened.urls.clear();
        item("Open")->trigger();
        QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(picture)});
        item("Reveal")->trigger();
        QTRY_COMPARE(desktop->fileManager.shownItems.size(), 1);
        QCOMPARE(desktop->fileManager.shownItems.first(),
                 QStringList{QUrl::fromLocalFile(picture).toString()});
        closeMenu();

        // Whatever the size of the message: all of a long text, the first of many files.
        rightClick("[data-transfer=in-long-text] .bubble-text");
        item("Copy All")->trigger();
        QCOMPARE(QApplication::clipboard()->text().size(), longText.size());
        QCOMPARE(QApplication::clipboard()->text(), longText);
        closeMenu();
        rightClick("[data-transfer=in-many-files] .card");
        item("Open")->trigger();
        QCOMPARE(opened.urls.last(), QUrl::fromLocalFile(manyPaths.first()));
        closeMenu();
        QCOMPARE(page->controller().contextMenuPayload().value_or(QJsonObject()).value("file"),
                 QJsonValue(QJsonArray::fromStringList(manyPaths)));

        // With the page's own handler kept from the next right-click, the menu keeps what the
        // page last said; a payload that cannot be read leaves nothing to act on.
        page->evaluate(
            "window.__mute = (e) => e.stopPropagation();"
            " window.addEventListener('contextmenu', window.__mute, true); true");
        QCOMPARE(menuAt("[data-transfer=in-text] .bubble-text"),
                 QStringList({"Quick Look", "Open", "Reveal"}));
        page->evaluate("alert(Velto.bridge.syncMarker + '{\"command\": \"setContextMenu'); true");
        QCOMPARE(menuAt("[data-transfer=in-text] .bubble-text"), QStringList());
        page->evaluate("window.removeEventListener('contextmenu', window.__mute, true); true");
    }

    // Where nothing on the desktop can open or show a file, the window says so, and where it is.
    void whatCannotBeOpenedIsSaidInTheWindow() {
        QDesktopServices::unsetUrlHandler("file");
        const QByteArray path = qgetenv("PATH");
        QTemporaryDir noPrograms;
        qputenv("PATH", noPrograms.path().toUtf8());  // no opener, no file manager to run
        QVERIFY(desktop->bus().unregisterService("org.freedesktop.FileManager1"));
        const auto restore = qScopeGuard([&] {
            desktop->bus().registerService("org.freedesktop.FileManager1");
            qputenv("PATH", path);
            QDesktopServices::setUrlHandler("file", &opened, "open");
        });

        for (const auto& [choice, words] :
             {std::pair{"Open", "“holiday.png”"}, std::pair{"Reveal", "file manager"}}) {
            rightClick("[data-transfer=in-files] .card");
            item(choice)->trigger();
            closeMenu();
            const QString told = shownBox(&page->window(), "notOpened");
            QVERIFY2(told.contains(words) && told.contains(folder.path()), qPrintable(told));
        }

        PreviewWindow preview;
        page->controller().setQuickLookSources({other});
        preview.setDataSource(&page->controller());
        preview.showItem(0);
        preview.show();
        clickOpen(preview);
        QVERIFY(shownBox(&preview, "notOpened").contains("“measurements.bin”"));
    }

    void quickLookStepsThroughTheFilesInOurOwnWindow() {
        rightClick("[data-transfer=in-files] .card");
        item("Quick Look")->trigger();
        closeMenu();
        QCOMPARE(page->controller().quickLookSources(),
                 std::optional<QStringList>({picture, notes}));
        PreviewWindow* preview = page->controller().quickLookPanel()->window();
        QVERIFY(preview != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(preview));

        QCOMPARE(preview->currentPath(), picture);
        QCOMPARE(preview->currentKind(), PreviewWindow::Kind::Image);
        const QImage shownPicture = preview->grab().toImage();
        keep(shownPicture, "preview-picture.png");
        int coloured = 0;
        for (int y = 0; y < shownPicture.height(); y += 4) {
            for (int x = 0; x < shownPicture.width(); x += 4) {
                coloured += shownPicture.pixelColor(x, y) == pictureColour ? 1 : 0;
            }
        }
        QVERIFY2(coloured > 1000, qPrintable(QString::number(coloured)));  // the picture is shown

        QTest::keyClick(preview, Qt::Key_Right);
        QCOMPARE(preview->currentPath(), notes);
        QCOMPARE(preview->currentKind(), PreviewWindow::Kind::Text);
        QFile file(notes);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(preview->findChild<QPlainTextEdit*>()->toPlainText(),
                 QString::fromUtf8(file.read(PreviewWindow::textPreviewBytes)));
        keep(preview->grab().toImage(), "preview-text.png");
        QTest::keyClick(preview, Qt::Key_Right);  // the last stays
        QCOMPARE(preview->currentPath(), notes);
        QTest::keyClick(preview, Qt::Key_Left);
        QCOMPARE(preview->currentPath(), picture);

        // Anything else: icon, name, size and a button that opens it. Outside the list: "/".
        page->controller().setQuickLookSources({other});
        preview->showItem(0);
        QCOMPARE(preview->currentKind(), PreviewWindow::Kind::Info);
        const QStringList labels = [&] {
            QStringList texts;
            for (const QLabel* label : preview->findChildren<QLabel*>()) {
                if (label->isVisible()) {
                    texts.append(label->text());
                }
            }
            return texts;
        }();
        QVERIFY2(labels.contains("measurements.bin"), qPrintable(labels.join(" | ")));
        QVERIFY2(labels.join(" ").contains("5,000 bytes"), qPrintable(labels.join(" | ")));
        keep(preview->grab().toImage(), "preview-other.png");
        opened.urls.clear();
        clickOpen(*preview);
        QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(other)});
        QCOMPARE(page->controller().numberOfPreviewItems(), 1);
        QCOMPARE(page->controller().previewItemAt(5), QUrl::fromLocalFile("/"));
        preview->showItem(5);
        QCOMPARE(preview->currentPath(), QStringLiteral("/"));
        preview->close();
    }

    // The desktop's previewer takes one file: several go to our own window, all of them.
    void quickLookUsesTheDesktopPreviewerForOneFile() {
        FakePreviewer previewer;
        QVERIFY(previewer.registerOn(desktop->bus()));
        rightClick("[data-transfer=in-many-files] .card");
        item("Quick Look")->trigger();
        closeMenu();
        PreviewWindow* own = page->controller().quickLookPanel()->window();
        QVERIFY(own != nullptr);
        QTRY_VERIFY(own->isVisible());
        QCOMPARE(own->currentPath(), manyPaths.first());
        QTest::keyClick(own, Qt::Key_Right);
        QCOMPARE(own->currentPath(), manyPaths.at(1));
        QCOMPARE(page->controller().numberOfPreviewItems(), manyFiles);
        own->close();

        page->controller().setQuickLookSources({picture});
        QuickLookPanel* panel = page->controller().quickLookPanel();
        panel->setDataSource(&page->controller());
        panel->makeKeyAndOrderFront();
        QTRY_COMPARE(previewer.shownUris, QStringList{QUrl::fromLocalFile(picture).toString()});
        QVERIFY(!own->isVisible());
        previewer.unregisterFrom(desktop->bus());
    }

    // Received files open with a double click or by keyboard: Shift+Tab from the composer's
    // first button reaches the messages' one Tab stop, the arrows (Home, End) move between
    // messages, Enter opens, and the context-menu key and Shift+F10 open the focused message's
    // menu.
    void receivedFilesOpenByDoubleClickAndKeyboard() {
        QWidget* target = view()->focusProxy();
        const QString filesCard = "[data-transfer=in-files] .card-status";
        page->evaluate(QStringLiteral("document.querySelector(%1).scrollIntoView({block: "
                                      "'center'}); true")
                           .arg(json(filesCard)));
        opened.urls.clear();
        const QPoint at = view()->mapToGlobal(page->centreOf(filesCard));
        QProcess pointer;  // a real double click, through the X server
        pointer.start(VELTO_XDOTOOL, {"mousemove", QString::number(at.x()), QString::number(at.y()),
                                      "click", "--repeat", "2", "--delay", "80", "1"});
        QVERIFY(pointer.waitForFinished(10000) && pointer.exitCode() == 0);
        QTRY_COMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(picture)});

        const QString focused = "document.activeElement.dataset.transfer";
        page->evaluate("document.getElementById('attach').focus(); true");
        QTest::keyClick(target, Qt::Key_Tab, Qt::ShiftModifier);  // the message clicked last
        QTRY_COMPARE(page->evaluate(focused).toString(), QStringLiteral("in-files"));
        QTest::keyClick(target, Qt::Key_End);
        QTRY_COMPARE(page->evaluate(focused).toString(), QStringLiteral("in-many-files"));
        QTest::keyClick(target, Qt::Key_Up);
        QTest::keyClick(target, Qt::Key_Up);
        QTRY_COMPARE(page->evaluate(focused).toString(), QStringLiteral("in-files"));
        opened.urls.clear();
        QTest::keyClick(target, Qt::Key_Return);
        QTRY_COMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(picture)});

        for (const auto& [key, modifiers] :
             {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
            const int before = menusMade;
            QTest::keyClick(target, key, modifiers);
            QTRY_VERIFY_WITH_TIMEOUT(menusMade > before, 20000);
            QCOMPARE(made, QStringList({"Quick Look", "Open", "Reveal"}));
            closeMenu();
        }
        QTest::keyClick(target, Qt::Key_Up);  // a text: its own menu
        const int before = menusMade;
        QTest::keyClick(target, Qt::Key_Menu);
        QTRY_VERIFY_WITH_TIMEOUT(menusMade > before, 20000);
        QCOMPARE(made, QStringList({"Copy All"}));
        closeMenu();
    }

    // A text not delivered has Retry in its menu, which sends it again.
    void aTextNotDeliveredHasRetryInItsMenu() {
        page->evaluate("Velto.app.state.sendText('10.77.0.61', 'Are you there?'); true");
        const QString key =
            page->evaluate("document.querySelector('.message.out.text').dataset.transfer")
                .toString();
        page->controller().bridge().sendEvent(
            "transfer-failed",
            QJsonObject{{"key", key}, {"outcome", "failed"}, {"reason", "gone"}});
        QVERIFY(page->waitFor("document.querySelector('.message.out.text.failed')"));
        rightClick(".message.out.text .bubble-text");
        QCOMPARE(items(), QStringList({"Retry", "Copy All"}));
        item("Retry")->trigger();
        closeMenu();
        QVERIFY(
            page->waitFor("document.querySelector('.message.out.text .meta-state')"
                          ".textContent === ' · Sending…'"));
        QVERIFY(page->evaluate("document.querySelector('.message.out.text').dataset.transfer")
                    .toString() != key);
    }

    // A change of the desktop's colour preference while the program runs reaches the page, the
    // menus, the file dialog and the preview window at once, and back.
    void theDarkThemeFollowsTheDesktopWhileRunning() {
        const auto prefer = [this](uint scheme) {
            QDBusMessage changed =
                QDBusMessage::createSignal("/org/freedesktop/portal/desktop",
                                           "org.freedesktop.portal.Settings", "SettingChanged");
            changed << "org.freedesktop.appearance"
                    << "color-scheme" << QVariant::fromValue(QDBusVariant(scheme));
            QVERIFY(desktop->bus().send(changed));
        };
        // The lightness (0 to 255) of the page's background.
        const auto pageLightness = [this] {
            return page
                ->evaluate(
                    "(() => { const [r, g, b] = getComputedStyle(document.body)"
                    ".backgroundColor.match(/\\d+/g).map(Number);"
                    " return (Math.max(r, g, b) + Math.min(r, g, b)) / 2; })()")
                .toInt();
        };
        const auto menuLightness = [this] {
            rightClick("[data-transfer=in-files] .card");
            return menu.isNull() ? -1 : menu.data()->palette().color(QPalette::Window).lightness();
        };
        QVERIFY(pageLightness() > 200);
        const int lightMenu = menuLightness();
        closeMenu();
        QVERIFY(lightMenu > 128);

        prefer(1);
        QVERIFY(page->waitFor("document.documentElement.dataset.scheme === 'dark'", 10000));
        QVERIFY(pageLightness() < 60);
        QVERIFY(menuLightness() < 60);
        page->capture("dark-menu.png");
        closeMenu();
        int dialogLightness = -1;
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [&, poll] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(widget);
                if (dialog != nullptr && dialog->isVisible()) {
                    poll->stop();
                    dialogLightness = dialog->palette().color(QPalette::Window).lightness();
                    page->capture("dark-file-dialog.png");
                    dialog->reject();
                }
            }
        });
        poll->start(20);
        page->call("picked", velto::app::test::command("showOpenPanel"));
        QCOMPARE(json(page->answer("picked")), json(QJsonArray()));
        delete poll;
        QVERIFY(dialogLightness >= 0 && dialogLightness < 60);
        PreviewWindow preview;
        page->controller().setQuickLookSources({notes});
        preview.setDataSource(&page->controller());
        preview.showItem(0);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        keep(preview.grab().toImage(), "dark-preview.png");
        QVERIFY(preview.palette().color(QPalette::Base).lightness() < 60);
        preview.close();

        prefer(2);
        QVERIFY(page->waitFor("document.documentElement.dataset.scheme === 'light'", 10000));
        QCOMPARE(pageLightness() > 200, true);
        QCOMPARE(menuLightness(), lightMenu);
        closeMenu();
    }
};

VELTO_REGISTER_TEST(ContextMenuTest);
#include "ContextMenuTest.moc"
