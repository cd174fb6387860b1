#include "VeltoWebPage.h"

#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <cstdio>

#include "velto/Diagnostics.h"

namespace velto::app {

namespace {
const QString timingPrefix = QStringLiteral("page: peer list drawn in ");
}  // namespace

VeltoWebPage::VeltoWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent),
      timings_(qEnvironmentVariable("VELTO_PAGE_TIMINGS") == QLatin1String("1")) {
    if (timings_) {
        QWebEngineScript flag;
        flag.setName(QStringLiteral("velto-page-timings"));
        flag.setInjectionPoint(QWebEngineScript::DocumentCreation);
        flag.setWorldId(QWebEngineScript::MainWorld);
        flag.setSourceCode(
            QStringLiteral("window.Velto = window.Velto || {}; window.Velto.pageTimings = true;"));
        scripts().insert(flag);
    }
}

void VeltoWebPage::javaScriptAlert(const QUrl& securityOrigin, const QString& message) {
    if (!alertHandler_) {
        QWebEnginePage::javaScriptAlert(securityOrigin, message);
        return;
    }
    alertHandler_(message);
}

void VeltoWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                            const QString& message, int lineNumber,
                                            const QString& sourceId) {
    if (timings_ && level == InfoMessageLevel && message.startsWith(timingPrefix)) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        std::fflush(stderr);
        emit pageTiming(message);
        return;
    }
    // Page errors belong in the program's diagnostics; plain logging of the page stays quiet.
    if (level == ErrorMessageLevel) {
        diagnostic("page:", sourceId.toStdString() + ":" + std::to_string(lineNumber),
                   message.toStdString());
    }
}

}  // namespace velto::app
