// The desktop program: one window showing the page, one server for the whole run.
#include <QApplication>
#include <QDBusConnection>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWebEngineProfile>

#include "AppDelegate.h"
#include "DesktopAppearance.h"
#include "FileRevealer.h"
#include "MainWindow.h"
#include "Notifications.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "TrayIcon.h"
#include "ViewController.h"
#include "WebProfile.h"

using namespace velto::app;

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velto"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velto"));
    QApplication::setDesktopFileName(QStringLiteral("velto"));
    QApplication::setQuitOnLastWindowClosed(false);  // a closed window keeps the program serving
    // The program's words, and Qt's own (the file dialog's), in the user's language.
    QTranslator qtWords;
    if (qtWords.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtWords);
    }
    QTranslator ownWords;
    if (ownWords.load(QLocale(), QStringLiteral("velto"), QStringLiteral("_"),
                      QStringLiteral(":/i18n"))) {
        QApplication::installTranslator(&ownWords);
    }

    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.activateRunningInstance()) {
        return 0;  // the running program shows its window
    }
    instance.listen();
    TerminationSignals terminationSignals;

    const QDBusConnection bus = QDBusConnection::sessionBus();
    // Before the first profile: that is when the web engine reads its flags.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            DesktopAppearance::chromiumFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                                             DesktopAppearance::desktopScheme(bus)));
    QWebEngineProfile* profile = createPersistentWebProfile(&application);
    FileRevealer revealer(bus);
    Notifications notifications(bus, revealer);

    MainWindow window;
    AppDelegate appDelegate;
    const auto controller = ViewController::create(appDelegate, &window, window.webView(), profile,
                                                   &notifications, &revealer);
    controller->viewDidLoad();

    appDelegate.applicationWillFinishLaunching();
    if (appDelegate.terminationRequested()) {
        return 1;
    }
    if (QApplication::arguments().contains(QStringLiteral("--developer"))) {
        window.webView()->setDeveloperMode(true);
    }
    window.show();

    TrayIcon tray;
    window.setTrayShown(tray.isShown());
    QObject::connect(&window, &MainWindow::quitRequested, &application, &QApplication::quit);
    auto reopen = [&appDelegate] { appDelegate.applicationShouldHandleReopen(); };
    QObject::connect(&instance, &SingleInstance::activationRequested, &application, reopen);
    QObject::connect(&tray, &TrayIcon::showRequested, &application, reopen);
    QObject::connect(&tray, &TrayIcon::quitRequested, &application, &QApplication::quit);
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application,
                     &QApplication::quit);
    // An ended session quits the program (aboutToQuit follows); a save request alone does not.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &application,
                     [&appDelegate] { appDelegate.applicationWillSaveSession(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &application,
                     [&appDelegate] { appDelegate.applicationWillTerminate(); });
    return QApplication::exec();
}
