#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>

namespace velto::app {

class PreviewDataSource;
class PreviewWindow;

// The one preview panel of the program. A single item is shown by the desktop's previewer where
// one runs on the session bus; several items, or one where no previewer runs or it fails, go to
// a preview window of our own, which steps through all of them.
class QuickLookPanel : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* previewerService = "org.gnome.NautilusPreviewer";

    explicit QuickLookPanel(QDBusConnection bus, QObject* parent = nullptr);
    ~QuickLookPanel() override;

    // The source is asked for its items each time the panel is brought to the front.
    void setDataSource(PreviewDataSource* source) { source_ = source; }
    void close();
    void makeKeyAndOrderFront();

    // Our own window, once it was needed.
    PreviewWindow* window() const;

  private:
    void showOwnWindow();

    QDBusConnection bus_;
    PreviewDataSource* source_ = nullptr;
    QPointer<PreviewWindow> window_;
};

}  // namespace velto::app
