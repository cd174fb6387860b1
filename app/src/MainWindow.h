#pragma once

#include <QMainWindow>

namespace velto::app {

class VeltoWebView;

// The one window: the web view fills it. Closing only hides it; the program keeps running and
// the window comes back through the tray icon or a second launch. Where the desktop has no tray,
// nothing would be left on screen: the first close of a run says so in the window, with how to
// quit, and offers to quit right away.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);

    VeltoWebView* webView() const { return webView_; }
    void setTrayShown(bool shown) { trayShown_ = shown; }

  signals:
    void quitRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Notes a quit under way: the program closes its windows first, and a refused close would
    // cancel the quit.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void tellKeepsReceiving();

    VeltoWebView* webView_;
    bool trayShown_ = false;
    bool toldKeepsReceiving_ = false;
    bool quitting_ = false;
};

}  // namespace velto::app
