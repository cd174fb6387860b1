// The web view's right-click menu: pruned on every opening, with the chat-history items the page
// asks for, and what those items do (clipboard, open, reveal, previews). The menus come from
// real right-clicks on the page's messages; the desktop is faked on the session bus.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "ContextMenuEditor.h"
#include "PeerDictionary.h"
#include "PreviewWindow.h"
#include "QuickLookPanel.h"
#include "VeltoWebPage.h"
#include "VeltoWebView.h"
#include "support/FakeDesktop.h"
#include "support/PageHarness.h"
#include "support/TestRegistry.h"
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

// A menu of items named by their identifiers, "-" making a separator.
void fill(QMenu& menu, const QStringList& identifiers) {
    for (const auto& identifier : identifiers) {
        QAction* item = identifier == "-" ? menu.addSeparator() : menu.addAction(identifier);
        item->setObjectName(identifier == "-" ? QString() : identifier);
    }
}

QString identify(const QAction* item) {
    return item->objectName();
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
    OpenedUrls opened;

    VeltoWebView* view() { return page->window().webView(); }

    // The last menu the view opened.
    QPointer<QMenu> menu;

    // Right-clicks the page there; menu is the one it opens.
    void rightClick(const QPoint& at) {
        menu = nullptr;
        QWidget* target = view()->focusProxy() != nullptr ? view()->focusProxy() : view();
        QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, at);
        QTRY_VERIFY_WITH_TIMEOUT(!menu.isNull(), 20000);
        QMenu* shown = menu.data();
        QVERIFY(shown != nullptr);
        QTRY_VERIFY(shown->isVisible());
    }

    void closeMenu() {
        QMenu* closing = menu.data();
        QVERIFY(closing != nullptr);
        closing->close();
        QTRY_VERIFY(menu.isNull());  // a menu lives until it closes, with its delegate
    }

    QStringList items() { return menu.isNull() ? QStringList() : describe(*menu.data()); }

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

    // A peer with one received text and one received pair of files, its conversation open.
    void receiveMessages() {
        const VeltoPeer peer("10.77.0.61", "10.77.0.61", 4644,
                             "Ben Ortiz at Studio [Velto] (Linux)",
                             std::chrono::system_clock::now());
        Bridge& bridge = page->controller().bridge();
        bridge.sendEvent("peer-added",
                         QJsonObject{{"key", "10.77.0.61"}, {"peer", packPeer(peer)}});
        bridge.sendEvent("transfer-incoming",
                         QJsonObject{{"key", "in-text"}, {"peer", packPeer(peer)}});
        bridge.sendEvent("transfer-incoming-text",
                         QJsonObject{{"key", "in-text"}, {"text", messageText}});
        bridge.sendEvent("transfer-finished", QJsonObject{{"key", "in-text"}});
        bridge.sendEvent("transfer-incoming",
                         QJsonObject{{"key", "in-files"}, {"peer", packPeer(peer)}});
        for (const auto& path : {picture, notes}) {
            bridge.sendEvent("transfer-incoming-file",
                             QJsonObject{{"key", "in-files"}, {"path", path}});
        }
        bridge.sendEvent("transfer-finished", QJsonObject{{"key", "in-files"}});
        QVERIFY(page->waitFor("Velto.app.state.peers.has('10.77.0.61')"));
        page->evaluate("Velto.app.select('10.77.0.61'); true");
        QVERIFY(
            page->waitFor("document.querySelectorAll('.message .card.draggable').length === 1"
                          " && document.querySelectorAll('.message .bubble-text').length === 1"));
    }

  private slots:
    void initTestCase() {
        desktop = std::make_unique<FakeDesktop>();
        QVERIFY(desktop->registered());
        page = std::make_unique<PageHarness>(false);
        connect(view(), &VeltoWebView::menuOpening, this,
                [this](QMenu* opening) { menu = opening; });
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
        receiveMessages();
    }
    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("file");
        page.reset();
        desktop.reset();
    }

    void editingFollowsTheMenuRules() {
        QMenu around;
        fill(around, {"share", "-", "speech", "-", "inspect"});
        ContextMenuEditor editor(around, identify);
        editor.removeMenuSeperatorBetween("share", "speech");
        editor.removeMenuSeperatorBetween("speech", "inspect");
        QCOMPARE(describe(around), QStringList({"share", "speech", "inspect"}));

        QMenu apart;
        fill(apart, {"share", "-", "other", "speech", "reload"});
        ContextMenuEditor apartEditor(apart, identify);
        apartEditor.removeMenuSeperatorBetween("share", "speech");  // more than a separator between
        QPointer<QAction> reload(apart.actions().last());
        apartEditor.removeMenuItemByIdentifier("reload");
        apartEditor.removeMenuItemByIdentifier("reload");  // none left: nothing happens
        QCOMPARE(describe(apart), QStringList({"share", "-", "other", "speech"}));
        QVERIFY(!reload.isNull());  // taken out, never deleted

        QMenu runs;
        fill(runs, {"-", "a", "-", "-", "b", "-"});
        ContextMenuEditor(runs, identify).removeMenuStrangeSeperator();
        QCOMPARE(describe(runs), QStringList({"a", "-", "b", "-"}));
        QMenu leading;
        fill(leading, {"-", "-", "a"});
        ContextMenuEditor(leading, identify).removeMenuStrangeSeperator();
        QCOMPARE(describe(leading), QStringList({"-", "a"}));

        QMenu withCopy;
        fill(withCopy, {"a", "b", "copy", "c"});
        QCOMPARE(ContextMenuEditor(withCopy, identify).findMenuByIdentifyOrDefault("copy", 1, 0),
                 3);
        QCOMPARE(ContextMenuEditor(runs, identify).findMenuByIdentifyOrDefault("copy", 1, 0), 0);
    }

    void aTextMessageOffersCopyAllAfterCopy() {
        const QPoint text = page->centreOf(".message .bubble-text");
        rightClick(text);
        QCOMPARE(items().value(0), QStringLiteral("Copy All"));  // no Copy without a selection
        closeMenu();

        page->evaluate(
            "getSelection().selectAllChildren(document.querySelector("
            "'.message .bubble-text')); true");
        rightClick(text);
        const QAction* copy = page->controller().page()->action(QWebEnginePage::Copy);
        const int copyAt = static_cast<int>(menu->actions().indexOf(copy));
        QVERIFY2(copyAt >= 0, qPrintable(items().join(" | ")));
        QCOMPARE(items().value(copyAt + 1), QStringLiteral("Copy All"));
        QApplication::clipboard()->setText("something else");
        item("Copy All")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), messageText);
        closeMenu();
        page->evaluate("getSelection().removeAllRanges(); true");

        // Outside the messages again, the menu is about nothing: the engine's items, pruned.
        QPointer<QAction> reload(page->controller().page()->action(QWebEnginePage::Reload));
        rightClick(page->centreOf(".brand"));
        QCOMPARE(page->controller().contextMenuType(), QStringLiteral("none"));
        const QStringList shown = items();
        QVERIFY2(!menu->actions().contains(reload.data()), qPrintable(shown.join(" | ")));
        QVERIFY(!shown.isEmpty() && shown.first() != "-");
        QVERIFY(!shown.join("|").contains("-|-"));
        for (const char* added : {"Copy All", "Quick Look", "Open", "Reveal"}) {
            QVERIFY(!shown.contains(added));
        }
        closeMenu();
        QVERIFY(!reload.isNull());  // the page's own action outlives the menu
    }

    void aFilesMessageOffersQuickLookOpenAndReveal() {
        rightClick(page->centreOf(".message .card"));
        QCOMPARE(items().mid(0, 3), QStringList({"Quick Look", "Open", "Reveal"}));
        const QRect shown = page->window().frameGeometry();
        keep(QGuiApplication::primaryScreen()
                 ->grabWindow(0, shown.x(), shown.y(), shown.width(), shown.height())
                 .toImage(),
             "menu-on-received-files.png");
        opened.urls.clear();
        item("Open")->trigger();
        QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(picture)});
        item("Reveal")->trigger();
        QTRY_COMPARE(desktop->fileManager.shownItems.size(), 1);
        QCOMPARE(desktop->fileManager.shownItems.first(),
                 QStringList{QUrl::fromLocalFile(picture).toString()});
        closeMenu();

        // The menu state stays as the page left it: with the page's own handler kept from the
        // next right-click, a menu over the text message still offers the files.
        page->evaluate(
            "window.__mute = (e) => e.stopPropagation();"
            " window.addEventListener('contextmenu', window.__mute, true); true");
        rightClick(page->centreOf(".message .bubble-text"));
        QCOMPARE(items().mid(0, 3), QStringList({"Quick Look", "Open", "Reveal"}));
        QVERIFY(!items().contains("Copy All"));
        closeMenu();
        page->evaluate("window.removeEventListener('contextmenu', window.__mute, true); true");
    }

    void quickLookStepsThroughTheFilesInOurOwnWindow() {
        rightClick(page->centreOf(".message .card"));
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
        for (QPushButton* button : preview->findChildren<QPushButton*>()) {
            if (button->text() == "Open") {
                button->click();
            }
        }
        QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(other)});
        QCOMPARE(page->controller().numberOfPreviewItems(), 1);
        QCOMPARE(page->controller().previewItemAt(5), QUrl::fromLocalFile("/"));
        preview->showItem(5);
        QCOMPARE(preview->currentPath(), QStringLiteral("/"));
        preview->close();
    }

    void quickLookUsesTheDesktopPreviewerWhereOneRuns() {
        FakePreviewer previewer;
        QVERIFY(previewer.registerOn(desktop->bus()));
        rightClick(page->centreOf(".message .card"));
        item("Quick Look")->trigger();
        closeMenu();
        QTRY_COMPARE(previewer.shownUris, QStringList{QUrl::fromLocalFile(picture).toString()});
        PreviewWindow* own = page->controller().quickLookPanel()->window();
        QVERIFY(own == nullptr || !own->isVisible());
        previewer.unregisterFrom(desktop->bus());
    }
};

VELTO_REGISTER_TEST(ContextMenuTest);
#include "ContextMenuTest.moc"
