#pragma once

#include <QWebEngineView>
#include <memory>

class QMenu;

namespace velto::app {

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

    // Prunes the engine's menu and adds the chat-history items the page asked for.
    void willOpenMenu(QMenu& menu);

  signals:
    // A context menu is about to be shown (after willOpenMenu).
    void menuOpening(QMenu* menu);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // The controller's drag handling once the redirection is on, else none.
    std::shared_ptr<ViewController> dragController() const;

    std::weak_ptr<ViewController> viewController_;
};

}  // namespace velto::app
