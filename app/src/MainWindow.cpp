#include "MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QShortcut>

#include "VeltoWebView.h"

namespace velto::app {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), webView_(new VeltoWebView(this)) {
    setWindowTitle(QStringLiteral("Velto"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/velto.svg")));
    setMinimumSize(640, 420);
    resize(980, 660);
    setCentralWidget(webView_);
    // No menu bar: the usual keys still close the window and quit.
    new QShortcut(QKeySequence::Close, this, this, &QWidget::close);
    new QShortcut(QKeySequence::Quit, this, qApp, &QApplication::quit);
}

}  // namespace velto::app
