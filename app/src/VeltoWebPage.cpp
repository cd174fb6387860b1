#include "VeltoWebPage.h"

#include "velto/Diagnostics.h"

namespace velto::app {

VeltoWebPage::VeltoWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {}

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
    // Page errors belong in the program's diagnostics; plain logging of the page stays quiet.
    if (level == ErrorMessageLevel) {
        diagnostic("page:", sourceId.toStdString() + ":" + std::to_string(lineNumber),
                   message.toStdString());
    }
}

}  // namespace velto::app
