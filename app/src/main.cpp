// The desktop program: one window showing the page, one server for the whole run.
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWebEngineProfile>

#include "AppDelegate.h"
#include "AutostartEntry.h"
#include "DesktopAppearance.h"
#include "FileRevealer.h"
#include "MainWindow.h"
#include "Notifications.h"
#include "SceneRendering.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "TrayIcon.h"
#include "ViewController.h"
#include "WebProfile.h"

using namespace velto::app;

namespace {

struct LaunchOptions {
    bool autostart = false;  // started with the session: the tray is enough, where there is one
    bool developer = false;
    QStringList sendPaths;  // absolute
};

LaunchOptions parseLaunchOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QApplication::translate(
        "main", "Send text, files and folders to computers on your network."));
    parser.addHelpOption();
    const QCommandLineOption autostart(
        QString::fromLatin1(AutostartEntry::flag).mid(2),
        QApplication::translate("main", "Start in the tray, without the window."));
    const QCommandLineOption send(
        QStringLiteral("send"),
        QApplication::translate("main", "Ask which computer gets the files and folders given."));
    const QCommandLineOption developer(
        QStringLiteral("developer"),
        QApplication::translate("main", "Offer the page's inspector."));
    parser.addOptions({autostart, send, developer});
    parser.addPositionalArgument(QStringLiteral("paths"),
                                 QApplication::translate("main", "With --send: what to send."),
                                 QStringLiteral("[PATH...]"));
    // Options meant for the toolkit or the web engine pass by untouched.
    parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp();
    }
    LaunchOptions options{parser.isSet(autostart), parser.isSet(developer), {}};
    if (parser.isSet(send)) {
        for (const QString& path : parser.positionalArguments()) {
            options.sendPaths.append(QDir::current().absoluteFilePath(path));
        }
    }
    return options;
}

}  // namespace

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

    const LaunchOptions options = parseLaunchOptions(QApplication::arguments());
    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (options.autostart && instance.runningInstanceFound()) {
        return 0;  // already running: a session start leaves its window as it is
    }
    if (instance.activateRunningInstance(options.sendPaths)) {
        return 0;  // the running program shows its window, and asks where the paths go
    }
    instance.listen();
    TerminationSignals terminationSignals;

    SceneRendering::applyAtStart();  // before the first window and web profile
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
    if (options.developer) {
        window.webView()->setDeveloperMode(true);
    }
    TrayIcon tray;
    window.setTrayShown(tray.isShown());
    if (!options.autostart || !tray.isShown()) {
        window.show();  // without a tray, a hidden window could not be found again
    }
    if (!options.sendPaths.isEmpty()) {
        controller->askWhereToSend(options.sendPaths);
    }
    QObject::connect(&window, &MainWindow::quitRequested, &application, &QApplication::quit);
    auto reopen = [&appDelegate] { appDelegate.applicationShouldHandleReopen(); };
    QObject::connect(&instance, &SingleInstance::activationRequested, &application,
                     [reopen, controller](const QStringList& paths) {
                         reopen();
                         if (!paths.isEmpty()) {
                             controller->askWhereToSend(paths);
                         }
                     });
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
