#pragma once

#include <QObject>

class QSystemTrayIcon;

namespace velto::app {

// A tray icon with Show and Quit, where the desktop has a tray.
class TrayIcon : public QObject {
    Q_OBJECT
  public:
    explicit TrayIcon(QObject* parent = nullptr);
    bool isShown() const { return icon_ != nullptr; }

  signals:
    void showRequested();
    void quitRequested();

  private:
    QSystemTrayIcon* icon_ = nullptr;
};

}  // namespace velto::app
