// Start-up order, port failures and the window's life.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include "support/PageHarness.h"
#include "support/TestRegistry.h"
#include "velto/UserFolders.h"
#include "velto/VeltoServer.h"

using namespace velto;
using namespace velto::app;
using velto::app::test::PageHarness;

class LifecycleTest : public QObject {
    Q_OBJECT
  private slots:
    void startUpRegistersTheControllerWiresBothDelegatesAndClearsLeftovers() {
        PageHarness page(false);
        QCOMPARE(page.app().viewController().get(), &page.controller());
        QVERIFY(page.app().server() == nullptr);
        // What a receiver killed mid-transfer leaves behind in Downloads.
        const QDir downloads(QString::fromStdString(UserFolders::userDownloadsFolder()));
        const QString leftover = ".VeltoTransferIntermediateStorage20261206083000killed";
        QVERIFY(downloads.mkpath(leftover + "/Album"));
        page.app().applicationWillFinishLaunching();
        QVERIFY(!downloads.exists(leftover));
        const auto server = page.app().server();
        QVERIFY(server != nullptr);
        QCOMPARE(dynamic_cast<ViewController*>(server->delegate().get()), &page.controller());
        QCOMPARE(dynamic_cast<ViewController*>(server->incomingDelegate().get()),
                 &page.controller());
        QVERIFY(!page.app().terminationRequested());
    }

    // A save request may be followed by a cancelled logout: the computer stays on the LAN's
    // lists until the program quits, and what the page holds is stored at once.
    void aSaveRequestStoresConversationsAndOnlyQuittingSaysGoodbye() {
        PageHarness page;
        QVERIFY(page.app().announced());
        page.evaluate(
            "Velto.app.state.history.add('10.77.0.8', {id: 'm1', dir: 'in', kind: 'text', "
            "text: 'kept', time: 1}); true");
        page.app().applicationWillSaveSession();
        QVERIFY(page.app().announced());
        QVERIFY(page.evaluate("localStorage.getItem(Velto.History.storageKey) || ''")
                    .toString()
                    .contains("\"kept\""));
        page.app().applicationWillTerminate();
        QVERIFY(!page.app().announced());
    }

    void aTakenPortShowsItsMessageOnceAndEndsTheProgram() {
        QUdpSocket squatter;
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, 4644, QUdpSocket::DontShareAddress));
        PageHarness page(false);
        QStringList shown;
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [&shown] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box != nullptr && box->isVisible() && box->objectName() == "portFailure") {
                    shown.append(box->text());
                    box->button(QMessageBox::Ok)->click();
                }
            }
        });
        poll->start(20);
        QSignalSpy terminate(&page.app(), &AppDelegate::terminateRequested);
        page.app().applicationWillFinishLaunching();
        poll->stop();
        QCOMPARE(shown, QStringList{"Our cute velts cannot put their ears on the UDP port 4644 so "
                                    "they cannot hear any sounds from other velts."});
        QVERIFY(page.app().terminationRequested());
        QCOMPARE(terminate.count(), 1);
    }

    // Where the desktop has no tray, the first close says, in the window, that Velto keeps
    // receiving and how to quit, and offers to quit; later closes just hide.
    void closingHidesTheWindowAndReopenBringsItBack() {
        PageHarness page(false);
        AppDelegate lonely;
        QVERIFY(!lonely.applicationShouldHandleReopen());  // no controller yet: nothing to show

        QPointer<QWidget> window = &page.window();
        QSignalSpy quit(&page.window(), &MainWindow::quitRequested);
        page.window().close();
        auto* told = page.window().findChild<QMessageBox*>("keepsReceiving");
        QVERIFY(told != nullptr);
        QTRY_VERIFY(told->isVisible());
        QCOMPARE(told->windowModality(), Qt::WindowModal);
        QVERIFY(page.window().isVisible());
        const QString words = told->text() + " " + told->informativeText();
        QVERIFY2(words.contains("keeps receiving") && words.contains("Ctrl+Q"), qPrintable(words));
        told->defaultButton()->click();
        QVERIFY(!page.window().isVisible());
        QVERIFY(window != nullptr);
        page.window().show();
        page.window().close();
        QVERIFY(!page.window().isVisible());  // told once
        QCOMPARE(quit.count(), 0);
        // Hidden, the page still gets events.
        page.recordEvents();
        page.controller().bridge().sendEvent("peer-removed", QJsonObject{{"key", "10.77.0.7"}});
        QVERIFY(page.waitFor("window.__events.length === 1"));

        page.window().showMinimized();
        QVERIFY(!page.app().applicationShouldHandleReopen());
        QVERIFY(page.window().isVisible());
        QVERIFY(!page.window().isMinimized());

        MainWindow another;
        QSignalSpy quitAnother(&another, &MainWindow::quitRequested);
        another.show();
        another.close();
        QTRY_VERIFY(another.findChild<QMessageBox*>("keepsReceiving") != nullptr);
        for (QAbstractButton* button :
             another.findChild<QMessageBox*>("keepsReceiving")->buttons()) {
            if (button->text() == "Quit Velto") {
                button->click();
            }
        }
        QCOMPARE(quitAnother.count(), 1);

        // A quit closes the windows first: nothing to say then, and nothing may stop it.
        struct Swallow : QObject {
            bool eventFilter(QObject*, QEvent* event) override {
                return event->type() == QEvent::Quit;
            }
        } keepRunning;  // installed first, so it sees the quit last: this test goes on
        qApp->installEventFilter(&keepRunning);
        MainWindow quitting;
        quitting.show();
        QEvent quitEvent(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quitEvent);
        quitting.close();
        QVERIFY(!quitting.isVisible());
        QVERIFY(quitting.findChild<QMessageBox*>() == nullptr);

        MainWindow withTray;  // the tray brings it back: no need to say anything
        withTray.setTrayShown(true);
        withTray.show();
        withTray.close();
        QVERIFY(!withTray.isVisible());
        QVERIFY(withTray.findChild<QMessageBox*>() == nullptr);
    }
};

VELTO_REGISTER_TEST(LifecycleTest);
#include "LifecycleTest.moc"
