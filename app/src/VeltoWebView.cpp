#include "VeltoWebView.h"

namespace velto::app {

VeltoWebView::VeltoWebView(QWidget* parent) : QWebEngineView(parent) {
    setAcceptDrops(true);
}

}  // namespace velto::app
