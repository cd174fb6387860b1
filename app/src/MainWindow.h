#pragma once

#include <QMainWindow>

namespace velto::app {

class VeltoWebView;

// The one window: the web view fills it. Closing only hides it; the program keeps running and
// the window comes back through the tray icon or a second launch.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);

    VeltoWebView* webView() const { return webView_; }

  private:
    VeltoWebView* webView_;
};

}  // namespace velto::app
