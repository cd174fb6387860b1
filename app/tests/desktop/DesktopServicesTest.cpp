// The desktop's services that need no web engine: single-instance activation, the colour
// scheme the desktop asks for, and the termination signals.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusVariant>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstring>

#include "AutostartEntry.h"
#include "DesktopAppearance.h"
#include "PageCatalog.h"
#include "SceneRendering.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "support/TestRegistry.h"

using namespace velto::app;

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

class DesktopServicesTest : public QObject {
    Q_OBJECT
  private slots:
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
        QVERIFY(!first.runningInstanceFound());
        QVERIFY(first.listen());
        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        QVERIFY(SingleInstance(QString::fromUtf8(path)).activateRunningInstance());
        QTRY_COMPARE(activations.count(), 1);
        QVERIFY(activations.at(0).at(0).toStringList().isEmpty());

        // `velto --send`: the paths reach the running program as given, odd names included.
        const QStringList paths = {"/home/ada/a b.txt", "/tmp/line\nbreak", "/tmp/100%\u00e9"};
        QVERIFY(SingleInstance(QString::fromUtf8(path)).activateRunningInstance(paths));
        QTRY_COMPARE(activations.count(), 2);
        QCOMPARE(activations.at(1).at(0).toStringList(), paths);

        // A session start only looks: the running program is asked nothing.
        QVERIFY(SingleInstance(QString::fromUtf8(path)).runningInstanceFound());
        QTest::qWait(200);
        QCOMPARE(activations.count(), 2);
    }

    // The setting is the entry's presence; the entry starts this program with the flag.
    void theAutostartEntryComesAndGoes() {
        QTemporaryDir folder;
        const QString path = folder.filePath("config/autostart/velto.desktop");
        const AutostartEntry entry(path, "/opt/My Apps/velto");
        QVERIFY(!entry.isEnabled());
        QCOMPARE(entry.setEnabled(true), QString());
        QVERIFY(entry.isEnabled());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("\nExec=\"/opt/My Apps/velto\" --autostart\n"),
                 entry.contents().constData());
        QCOMPARE(entry.setEnabled(false), QString());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(entry.setEnabled(false), QString());  // already gone: nothing to report

        // A folder where the entry should be: the user hears why it failed.
        QVERIFY(QDir().mkpath(path));
        QVERIFY(entry.setEnabled(true).contains("could not be written"));
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

    // OpenGL done by the processor gives way to software drawing; a graphics card keeps it; the
    // user's setting wins without OpenGL being asked.
    void theSceneRendererFollowsTheOpenGLRenderer() {
        using Renderer = SceneRendering::Renderer;
        int asked = 0;
        const auto renderer = [&asked](std::optional<QByteArray> name) {
            return [&asked, name] {
                ++asked;
                return name;
            };
        };
        for (const char* name : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe",
                                 "Software Rasterizer", "Mesa swrast"}) {
            QCOMPARE(SceneRendering::choose("", renderer(name)), Renderer::software);
        }
        QCOMPARE(SceneRendering::choose("", renderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)")),
                 Renderer::openGL);
        QCOMPARE(SceneRendering::choose("", renderer(std::nullopt)), Renderer::software);
        QCOMPARE(SceneRendering::choose("anything", renderer("AMD Radeon RX 6600")),
                 Renderer::openGL);
        QCOMPARE(asked, 7);
        QCOMPARE(SceneRendering::choose("gl", renderer("llvmpipe")), Renderer::openGL);
        QCOMPARE(SceneRendering::choose("Software\n", renderer("NVIDIA GeForce")),
                 Renderer::software);
        QCOMPARE(asked, 7);
    }

    // The page's words in the user's language: the locale's catalog, else its language's, else
    // English with no catalog (also for a catalog that cannot be read).
    void thePageCatalogFollowsTheLocale() {
        QTemporaryDir folder;
        const auto write = [&folder](const QString& name, const QByteArray& content) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
        write("de.json", R"({"Retry": "Erneut senden"})");
        write("pt_BR.json", R"({"Retry": "Reenviar"})");
        write("fr.json", "{not json");
        const auto catalog = [&folder](const char* locale) {
            const QJsonObject found = PageCatalog::forLocale(QLocale(locale), folder.path());
            return found.value("language").toString() + " " +
                   found.value("catalog").toObject().value("Retry").toString();
        };
        QCOMPARE(catalog("de_AT"), QStringLiteral("de Erneut senden"));
        QCOMPARE(catalog("pt_BR"), QStringLiteral("pt_BR Reenviar"));
        QCOMPARE(catalog("pt_PT"), QStringLiteral("en "));
        QCOMPARE(catalog("fr_FR"), QStringLiteral("en "));
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

VELTO_REGISTER_TEST(DesktopServicesTest);
#include "DesktopServicesTest.moc"
