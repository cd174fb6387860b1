#include "MainWindow.h"

#include <QIcon>

#include "VeltoWebView.h"

namespace velto::app {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), webView_(new VeltoWebView(this)) {
    setWindowTitle(QStringLiteral("Velto"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/velto.svg")));
    setMinimumSize(640, 420);
    resize(980, 660);
    setCentralWidget(webView_);
}

}  // namespace velto::app
