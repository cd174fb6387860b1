// Start-up order, port failures, the window's life, single-instance activation and the
// termination signals.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <csignal>
#include <cstring>

#include "DesktopAppearance.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "support/PageHarness.h"
#include "support/TestRegistry.h"
#include "velto/UserFolders.h"
#include "velto/VeltoServer.h"

using namespace velto;
using namespace velto::app;
using velto::app::test::PageHarness;

// The desktop portal's settings, answering one colour scheme. It runs on a thread of its own:
// the program asks it with a blocking call.
class FakePortalSettings : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
  public:
    explicit FakePortalSettings(uint scheme) : scheme_(scheme) {}
  public slots:
    QDBusVariant Read(const QString& group, const QString& key) {
        const bool known = group == "org.freedesktop.appearance" && key == "color-scheme";
        return QDBusVariant(QVariant::fromValue(QDBusVariant(known ? scheme_ : 0u)));
    }

  private:
    uint scheme_;
};

class FakePortal {
  public:
    explicit FakePortal(uint scheme) : settings_(scheme) {
        settings_.moveToThread(&thread_);
        thread_.start();
        bus_.registerObject("/org/freedesktop/portal/desktop", &settings_,
                            QDBusConnection::ExportAllSlots);
        bus_.registerService("org.freedesktop.portal.Desktop");
    }
    ~FakePortal() {
        bus_.unregisterService("org.freedesktop.portal.Desktop");
        bus_.unregisterObject("/org/freedesktop/portal/desktop");
        QDBusConnection::disconnectFromBus("fake-portal");
        thread_.quit();
        thread_.wait();
    }

  private:
    FakePortalSettings settings_;
    QThread thread_;
    QDBusConnection bus_ =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-portal");
};

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

    // The second launch asks the first to show itself, also where a crash left the socket file.
    void aSecondLaunchAsksTheFirstToShowItself() {
        QTemporaryDir folder;
        const QByteArray path = folder.filePath("velto.socket").toUtf8();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);  // the file stays, nobody listens: what a crash leaves

        SingleInstance first(QString::fromUtf8(path));
        QVERIFY(!first.activateRunningInstance());  // nobody there
        QVERIFY(first.listen());
        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        QVERIFY(SingleInstance(QString::fromUtf8(path)).activateRunningInstance());
        QTRY_COMPARE(activations.count(), 1);
    }

    void theDesktopsColourSchemeReachesTheEngine() {
        using Scheme = DesktopAppearance::Scheme;
        const auto bus = QDBusConnection::sessionBus();
        QCOMPARE(DesktopAppearance::desktopScheme(bus), Scheme::noPreference);  // light palette
        {
            FakePortal portal(1);
            QCOMPARE(DesktopAppearance::desktopScheme(bus), Scheme::dark);
        }
        {
            FakePortal portal(2);
            QCOMPARE(DesktopAppearance::desktopScheme(bus), Scheme::light);
        }
        QCOMPARE(DesktopAppearance::chromiumFlags("", Scheme::dark),
                 QByteArray("--blink-settings=preferredColorScheme=0"));
        QCOMPARE(DesktopAppearance::chromiumFlags("--disable-gpu", Scheme::light),
                 QByteArray("--disable-gpu --blink-settings=preferredColorScheme=1"));
        QCOMPARE(DesktopAppearance::chromiumFlags("--disable-gpu", Scheme::noPreference),
                 QByteArray("--disable-gpu"));
        // A choice made by whoever started the program stands.
        QCOMPARE(DesktopAppearance::chromiumFlags("--blink-settings=preferredColorScheme=1",
                                                  Scheme::dark),
                 QByteArray("--blink-settings=preferredColorScheme=1"));
    }

    void terminationSignalsArriveOnTheEventLoop() {
        TerminationSignals signalsSeen;
        QSignalSpy received(&signalsSeen, &TerminationSignals::received);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        QTRY_COMPARE(received.count(), 2);
        QCOMPARE(received.at(0).at(0).toInt(), SIGTERM);
        QCOMPARE(received.at(1).at(0).toInt(), SIGINT);
    }
};

VELTO_REGISTER_TEST(LifecycleTest);
#include "LifecycleTest.moc"
