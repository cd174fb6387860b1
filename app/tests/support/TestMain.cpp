// Entry point of the program's Qt tests: refuses to run where a real network could see the
// datagrams of the server they start, and gives them a home folder of their own.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <string>

#include "SceneRendering.h"
#include "TestRegistry.h"
#include "support/NetworkGuard.h"
#include "velto/Diagnostics.h"

namespace velto::app::test {
std::vector<RegisteredTest>& registeredTests() {
    static std::vector<RegisteredTest> tests;
    return tests;
}
}  // namespace velto::app::test

int main(int argc, char** argv) {
    const std::string foreign = velto::test::foreignNetworkInterface();
    if (!foreign.empty()) {
        std::fprintf(stderr,
                     "Refusing to run: interface %s is on a real network. These tests start a "
                     "server on fixed ports and run only in a private network namespace "
                     "(scripts/test.sh, or `unshare --net` with loopback up).\n",
                     foreign.c_str());
        return 2;
    }
    // Received files land in the Downloads folder of this home, never the user's.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(".config").toUtf8());
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath(".local/share").toUtf8());
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    }
    velto::setDiagnosticsEnabled(qEnvironmentVariableIsSet("VELTO_TEST_DIAGNOSTICS"));

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    velto::app::SceneRendering::applyAtStart();  // drawn as the program would be on this screen

    // First argument: the name of one test class; the rest goes to QTest.
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    QStringList testArguments{QString::fromLocal8Bit(argv[0])};
    for (int i = only ? 2 : 1; i < argc; ++i) {
        testArguments.append(QString::fromLocal8Bit(argv[i]));
    }
    int failures = 0;
    bool ran = false;
    for (const auto& test : velto::app::test::registeredTests()) {
        if (only != nullptr && std::strcmp(only, test.name) != 0) {
            continue;
        }
        ran = true;
        const auto object = test.make();
        failures += QTest::qExec(object.get(), testArguments);
    }
    if (!ran) {
        std::fprintf(stderr, "no test class named %s\n", only);
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
