// Drags over the real web view, with the drop regions set through the real bridge: what the page
// is told, what the drag is answered, and what the engine itself still sees. Synthetic events
// first, then a real drag from another X client.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <chrono>

#include "VeltoWebView.h"
#include "support/PageHarness.h"
#include "support/TestRegistry.h"
#include "velto/VeltoServer.h"

using namespace velto;
using namespace velto::app;
using velto::app::test::command;
using velto::app::test::json;
using velto::app::test::PageHarness;

namespace {

QJsonObject region(double x, double y, double width, double height, const QString& type,
                   const QString& name) {
    return {{"x", x},           {"y", y},       {"width", width},
            {"height", height}, {"type", type}, {"name", name}};
}

std::unique_ptr<QMimeData> filesMime(const QStringList& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    mime->setUrls(urls);
    return mime;
}

std::unique_ptr<QMimeData> textMime(const QString& text) {
    auto mime = std::make_unique<QMimeData>();
    mime->setText(text);
    return mime;
}

// An answer to a drag event: "none" when not accepted.
QString answerOf(const QDropEvent& event) {
    if (!event.isAccepted()) {
        return QStringLiteral("none");
    }
    return event.dropAction() == Qt::CopyAction ? QStringLiteral("copy") : QStringLiteral("other");
}

constexpr Qt::DropActions everyAction = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

QJsonObject update(double x, double windowY) {
    return {{"event", "drag-update"},
            {"data", QJsonObject{{"x", QString::number(x)}, {"y", QString::number(windowY)}}}};
}
const QJsonObject finish{{"event", "drag-finish"}};

}  // namespace

class DragDropTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<PageHarness> page;
    int syncs = 0;

    VeltoWebView* view() { return page->window().webView(); }
    // The window's height: "drag-update" counts y from the window's bottom.
    double height() { return page->window().height(); }

    void setRegions(const QJsonArray& regions) {
        page->call(QStringLiteral("regions-%1").arg(++syncs),
                   command("setDropableRegions", regions));
        QTRY_COMPARE(page->controller().dropableRegions().size(), regions.size());
    }

    // Records the drag events the page gets and the drag events its document sees.
    void record() {
        page->recordEvents();
        page->evaluate(
            "window.__dom = []; if (!window.__domHooked) { window.__domHooked = true;"
            " for (const type of ['dragenter', 'dragleave', 'drop'])"
            "   document.addEventListener(type, () => window.__dom.push(type), true); } true");
    }

    // Every drag event the page got so far: a command answered after them comes after them.
    QJsonArray dragEvents() {
        const QString id = QStringLiteral("sync-%1").arg(++syncs);
        page->call(id, command("noSuchCommand"));
        page->answer(id);
        QJsonArray events;
        for (const auto& event : page->recordedEvents()) {
            if (event.toObject().value("event").toString().startsWith("drag-")) {
                events.append(event);
            }
        }
        return events;
    }
    // The data of every "drag-on" the page got so far.
    QJsonArray dropsTold() {
        QJsonArray told;
        for (const auto& event : dragEvents()) {
            if (event.toObject().value("event") == QLatin1String("drag-on")) {
                told.append(event.toObject().value("data"));
            }
        }
        return told;
    }
    QStringList domEvents() { return page->evaluate("window.__dom").toStringList(); }

    // As a window delivers a drag coming in: the enter, then a move at the same place, whose
    // answer is the drag's.
    QString enter(const QPointF& at, QMimeData* mime) {
        QDragEnterEvent event(at.toPoint(), everyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view(), &event);
        if (!event.isAccepted()) {
            return QStringLiteral("refused");
        }
        return move(at, mime);
    }
    QString move(const QPointF& at, QMimeData* mime) {
        QDragMoveEvent event(at.toPoint(), everyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view(), &event);
        return answerOf(event);
    }
    QString drop(const QPointF& at, QMimeData* mime) {
        QDropEvent event(at, everyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view(), &event);
        return answerOf(event);
    }
    void leave() {
        QDragLeaveEvent event;
        QApplication::sendEvent(view(), &event);
    }

    // A known peer whose conversation is open, so that the page shows its text box.
    void openConversation(const QString& key) {
        page->app().server()->peers().addIfAbsent(
            VeltoPeer(key.toStdString(), key.toStdString(), 4644,
                      "Ann Lee at Office [Velto] (Linux)", std::chrono::system_clock::now()));
        page->controller().peerDiscoveryWithAdded(
            key.toStdString(), *page->app().server()->peers().find(key.toStdString()));
        QVERIFY(page->waitFor(QStringLiteral("Velto.app.state.peers.has('%1')").arg(key)));
        page->evaluate(QStringLiteral("Velto.app.select('%1'); true").arg(key));
        QVERIFY(page->waitFor("!document.getElementById('conversation').hidden"));
    }

    // Another X client on the same display, its window beside ours.
    void startOtherProgram(QProcess& program, const QStringList& dragged) {
        page->window().move(0, 0);
        QVERIFY(QTest::qWaitForWindowExposed(&page->window()));
        program.start(VELTO_DRAG_SOURCE, QStringList{"1100", "600"} + dragged);
        QVERIFY(program.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += program.readAllStandardOutput()).contains("shown"),
                                 20000);
    }

    // Moves and clicks the display's real pointer, the way a user would.
    void runPointer(QProcess& xdotool, const QStringList& steps) {
        xdotool.start(VELTO_XDOTOOL, steps);
        QVERIFY(xdotool.waitForStarted());
    }

  private slots:
    void initTestCase() {
        page = std::make_unique<PageHarness>();
        QVERIFY(page->controller().flipped());
        // The view fills the window, so page and window coordinates differ only in y's origin.
        QCOMPARE(view()->mapTo(&page->window(), QPoint(0, 0)), QPoint(0, 0));
        QCOMPARE(view()->height(), page->window().height());
    }
    void cleanupTestCase() { page.reset(); }

    void filesOverObjectRegionsFirstRegionWinsAndEdgesCount() {
        // b overlaps a's lower right quarter; a comes first.
        setRegions({region(100, 100, 200, 100, "object", "peer-a"),
                    region(200, 150, 200, 100, "object", "peer-b"),
                    region(500, 100, 100, 100, "trash", "elsewhere")});
        record();
        const auto files = filesMime({"/tmp/one.txt", "/tmp/two words.txt"});
        QCOMPARE(enter({100, 100}, files.get()), "copy");  // left and top edges are inside
        QCOMPARE(move({300, 120}, files.get()), "none");   // a's right edge is outside
        QCOMPARE(move({250, 170}, files.get()), "copy");   // in both: a
        QCOMPARE(move({550, 150}, files.get()), "none");   // a region of another type
        QCOMPARE(move({250, 200}, files.get()), "copy");   // a's bottom edge: b
        QCOMPARE(drop({250, 200}, files.get()), "copy");
        const double h = height();
        const QJsonObject dropped{
            {"event", "drag-on"},
            {"data", QJsonObject{{"x", "250"},
                                 {"y", "200"},
                                 {"type", "object"},
                                 {"name", "peer-b"},
                                 {"files", QJsonArray{"/tmp/one.txt", "/tmp/two words.txt"}}}}};
        // Prepare and perform each end the drag's display before the drop is told, conclude and
        // end after it.
        QCOMPARE(json(dragEvents()),
                 json(QJsonArray{update(100, h - 100), update(100, h - 100), update(300, h - 120),
                                 update(250, h - 170), update(550, h - 150), update(250, h - 200),
                                 finish, finish, dropped, finish, finish}));
        // The engine saw the drag come in and, as the program took the drop, leave again.
        QTRY_COMPARE(domEvents().value(0), QStringLiteral("dragenter"));
        QTRY_COMPARE(domEvents().last(), QStringLiteral("dragleave"));
        QVERIFY(!domEvents().contains("drop"));
    }

    void textNeitherAndRefusedDrops() {
        setRegions({region(0, 0, 400, 300, "object", "peer-a"),
                    region(400, 0, 200, 300, "trash", "elsewhere")});
        record();
        const auto text = textMime("dropped words");
        QCOMPARE(enter({10, 20}, text.get()), "copy");
        QCOMPARE(drop({10, 20}, text.get()), "copy");
        auto neither = std::make_unique<QMimeData>();
        neither->setData("application/x-velto-test", "bytes");
        QCOMPARE(enter({10, 20}, neither.get()), "none");
        leave();
        const auto files = filesMime({"/tmp/one.txt"});
        QCOMPARE(enter({450, 20}, files.get()), "none");
        QCOMPARE(drop({450, 20}, files.get()), "none");
        // Blank text is as good as none.
        const auto blank = textMime(" \n\t");
        QCOMPARE(enter({10, 20}, blank.get()), "none");
        QCOMPARE(drop({10, 20}, blank.get()), "none");
        // Only the text drop is told, with "text", the text itself and no "files".
        QCOMPARE(json(dropsTold()), json(QJsonArray{QJsonObject{{"x", "10"},
                                                                {"y", "20"},
                                                                {"type", "object"},
                                                                {"name", "peer-a"},
                                                                {"text", 1},
                                                                {"plainText", "dropped words"}}}));
        // A refused drop still ends the drag's display: prepare and end.
        QCOMPARE(dragEvents().last().toObject(), finish);
    }

    void emptyRegionListAndLeavingTheWindow() {
        setRegions({});
        record();
        const auto files = filesMime({"/tmp/one.txt"});
        QCOMPARE(enter({50, 60}, files.get()), "none");
        QCOMPARE(drop({50, 60}, files.get()), "none");
        setRegions({region(0, 0, 400, 300, "object", "peer-a")});
        QCOMPARE(enter({50, 60}, files.get()), "copy");
        leave();
        const double h = height();
        QCOMPARE(json(dragEvents()),
                 json(QJsonArray{update(50, h - 60), update(50, h - 60), finish, finish,
                                 update(50, h - 60), update(50, h - 60), finish}));
        // The exit is passed on: the engine ends the drag it saw entering.
        QTRY_COMPARE(domEvents().count("dragleave"), 2);
        QVERIFY(!domEvents().contains("drop"));
    }

    void anEmptyFileListNeverReachesTheEngine() {
        setRegions({region(0, 0, 400, 300, "object", "peer-a")});
        record();
        QMimeData empty;
        empty.setData("text/uri-list", QByteArray());
        QCOMPARE(enter({50, 60}, &empty), "refused");
        QCOMPARE(move({50, 60}, &empty), "none");
        QCOMPARE(drop({50, 60}, &empty), "none");
        QCOMPARE(dragEvents(), QJsonArray());
        QCOMPARE(domEvents(), QStringList());
        // The next drag is handled as usual.
        const auto files = filesMime({"/tmp/one.txt"});
        QCOMPARE(enter({50, 60}, files.get()), "copy");
        leave();
    }

    void originalRegionsLeaveTheDragToTheEngine() {
        openConversation("10.77.0.51");
        // The page's own regions: its text box is handed to the engine.
        QTRY_VERIFY(std::any_of(page->controller().dropableRegions().begin(),
                                page->controller().dropableRegions().end(),
                                [](const DropRegion& r) { return r.type == "original"; }));
        record();
        const QPointF box = page->centreOf("#message-input");
        const auto text = textMime("dropped into the box");
        enter(box, text.get());
        QCOMPARE(move(box, text.get()), "copy");  // the engine's answer for an editable field
        QCOMPARE(drop(box, text.get()), "copy");
        QTRY_COMPARE(page->evaluate("document.getElementById('message-input').value").toString(),
                     QStringLiteral("dropped into the box"));
        QCOMPARE(domEvents(), QStringList({"dragenter", "drop"}));
        QCOMPARE(dropsTold(), QJsonArray());
    }

    // The drag showed copy, so the drop sends: the text becomes a message to that peer.
    void textDroppedOnAPeerIsSentToIt() {
        openConversation("10.77.0.53");
        openConversation("10.77.0.54");
        const QString row = ".peer[data-key='10.77.0.53']";
        QTRY_VERIFY(std::any_of(page->controller().dropableRegions().begin(),
                                page->controller().dropableRegions().end(),
                                [](const DropRegion& r) { return r.name == "10.77.0.53"; }));
        const auto text = textMime("a few dropped words");
        QCOMPARE(enter(page->centreOf(row), text.get()), "copy");
        QCOMPARE(drop(page->centreOf(row), text.get()), "copy");
        QVERIFY(page->waitFor(
            "Velto.app.state.history.messages('10.77.0.53').some(m => m.dir === 'out' && "
            "m.kind === 'text' && m.text === 'a few dropped words')"));
        QCOMPARE(page->evaluate("Velto.app.state.selected").toString(),
                 QStringLiteral("10.77.0.53"));
    }

    void aFileDraggedFromAnotherProgramReachesThePage() {
        openConversation("10.77.0.52");
        QTemporaryDir folder;
        const QString path = folder.filePath("from elsewhere.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("dragged in\n");
        file.close();

        QProcess source;
        startOtherProgram(source, {path});
        record();

        const QPoint row = view()->mapToGlobal(page->centreOf(".peer[data-key='10.77.0.52']"));
        QProcess xdotool;
        runPointer(xdotool, {"mousemove", "1160", "640", "mousedown", "1", "sleep", "0.5",
                             "mousemove", QString::number(row.x() - 20), QString::number(row.y()),
                             "sleep", "0.5", "mousemove", QString::number(row.x()),
                             QString::number(row.y()), "sleep", "0.5", "mouseup", "1"});
        QTRY_COMPARE_WITH_TIMEOUT(xdotool.state(), QProcess::NotRunning, 20000);
        QVERIFY2(xdotool.exitCode() == 0, xdotool.readAllStandardError().constData());

        QVERIFY(page->waitFor("window.__events.some(e => e.event === 'drag-on')", 20000));
        const QJsonObject told = dropsTold().last().toObject();
        QCOMPARE(told.value("type").toString(), QStringLiteral("object"));
        QCOMPARE(told.value("name").toString(), QStringLiteral("10.77.0.52"));
        QCOMPARE(json(told.value("files")), json(QJsonArray{path}));
        source.kill();
        source.waitForFinished();
    }

    void filesDraggedOutReachAnotherProgram() {
        QTemporaryDir folder;
        const QStringList paths{folder.filePath("first.txt"), folder.filePath("second file.txt")};
        for (const auto& path : paths) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QProcess target;
        startOtherProgram(target, {});
        // The drag follows the pointer from where it is; the pointer goes over to the other
        // program and lets go there.
        QProcess xdotool;
        runPointer(xdotool,
                   {"mousemove", "300", "300", "sleep", "1", "mousemove", "1150", "630", "sleep",
                    "0.5", "mousemove", "1160", "640", "sleep", "0.5", "click", "1"});
        page->call("out",
                   command("dragStart", QJsonObject{{"files", QJsonArray::fromStringList(paths)}}));
        QCOMPARE(json(page->answer("out")), json(QJsonArray()));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += target.readAllStandardOutput()).contains("received"),
                                 20000);
        QCOMPARE(said.mid(said.indexOf("received")).trimmed(),
                 QStringLiteral("received %1 %2")
                     .arg(QUrl::fromLocalFile(paths[0]).toString(),
                          QUrl::fromLocalFile(paths[1]).toString())
                     .toUtf8());
        QTRY_COMPARE_WITH_TIMEOUT(xdotool.state(), QProcess::NotRunning, 20000);
        target.kill();
        target.waitForFinished();
    }
};

VELTO_REGISTER_TEST(DragDropTest);
#include "DragDropTest.moc"
