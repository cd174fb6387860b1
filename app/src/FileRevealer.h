#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace velto::app {

// Shows a file selected in the desktop's file manager, or, where none answers on the session
// bus, opens the folder that holds it; says when neither can be done.
class FileRevealer : public QObject {
    Q_OBJECT
  public:
    explicit FileRevealer(QDBusConnection bus, QObject* parent = nullptr);

    void reveal(const QString& path);

  signals:
    // Neither a file manager nor an application for the folder could show path.
    void revealFailed(const QString& path);

  private:
    QDBusConnection bus_;
};

}  // namespace velto::app
