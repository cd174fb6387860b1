#pragma once

#include <QWebEnginePage>
#include <functional>

namespace velto::app {

// The page of the main web view. Its alerts go to a handler of the host, which runs while the
// page's script waits for alert() to return: that is what makes the synchronous channel work.
// With VELTO_PAGE_TIMINGS=1 in the environment the page times its drawing and each figure goes
// to standard error (and to pageTiming).
class VeltoWebPage : public QWebEnginePage {
    Q_OBJECT
  public:
    using AlertHandler = std::function<void(const QString& message)>;

    VeltoWebPage(QWebEngineProfile* profile, QObject* parent);
    void setAlertHandler(AlertHandler handler) { alertHandler_ = std::move(handler); }

  signals:
    void pageTiming(const QString& line);

  protected:
    void javaScriptAlert(const QUrl& securityOrigin, const QString& message) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceId) override;

  private:
    AlertHandler alertHandler_;
    bool timings_;
};

}  // namespace velto::app
