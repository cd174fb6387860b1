#pragma once

#include <QWebEngineView>
#include <memory>

class QMenu;

namespace velto::app {

class ContextMenuEditor;
class ViewController;

// The main window's web view. A subclass of its own because drag events and the context menu
// reach the view itself, not the engine's internal widget: the controller gets them first.
class VeltoWebView : public QWebEngineView {
    Q_OBJECT
  public:
    explicit VeltoWebView(QWidget* parent = nullptr);

    void setViewController(std::weak_ptr<ViewController> controller) {
        viewController_ = std::move(controller);
    }
    std::shared_ptr<ViewController> viewController() const { return viewController_.lock(); }

    // The engine's own drag handling, for the controller to call where the page handles a drag.
    void engineDragEnter(QDragEnterEvent* event) { QWebEngineView::dragEnterEvent(event); }
    void engineDragMove(QDragMoveEvent* event) { QWebEngineView::dragMoveEvent(event); }
    void engineDragLeave(QDragLeaveEvent* event) { QWebEngineView::dragLeaveEvent(event); }
    void engineDrop(QDropEvent* event) { QWebEngineView::dropEvent(event); }

    // Keeps of the engine's menu only what applies (editing where it can be done, the inspector
    // for developers), adds the chat-history items the page asked for, and tidies separators.
    void willOpenMenu(QMenu& menu);

    // For developers (the program's --developer switch): the menu offers the engine's
    // inspector, in a window of its own.
    void setDeveloperMode(bool on);
    bool developerMode() const { return inspector_ != nullptr; }

  signals:
    // A context menu was made (after willOpenMenu); it is shown unless it is empty.
    void menuOpening(QMenu* menu);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void addChatHistoryItems(QMenu& menu, ContextMenuEditor& editor);
    // The controller's drag handling once the redirection is on, else none.
    std::shared_ptr<ViewController> dragController() const;

    std::weak_ptr<ViewController> viewController_;
    QWebEngineView* inspector_ = nullptr;
};

}  // namespace velto::app
