#pragma once

#include <QWebEngineView>
#include <memory>

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

  private:
    std::weak_ptr<ViewController> viewController_;
};

}  // namespace velto::app
