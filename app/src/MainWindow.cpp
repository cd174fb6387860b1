#include "MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
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
    new QShortcut(QKeySequence::Quit, this, this, &MainWindow::quitRequested);
    qApp->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit) {
        quitting_ = true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (trayShown_ || toldKeepsReceiving_ || quitting_) {
        event->accept();
        return;
    }
    event->ignore();
    tellKeepsReceiving();
}

void MainWindow::tellKeepsReceiving() {
    if (findChild<QMessageBox*>(QStringLiteral("keepsReceiving")) != nullptr) {
        return;  // already asking
    }
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Velto"),
                                tr("Velto keeps receiving while its window is closed."),
                                QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("keepsReceiving"));
    box->setInformativeText(
        tr("Start Velto again to bring the window back. To quit, press Ctrl+Q in the window."));
    QPushButton* keep = box->addButton(tr("Keep Receiving"), QMessageBox::AcceptRole);
    QPushButton* quit = box->addButton(tr("Quit Velto"), QMessageBox::DestructiveRole);
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, quit] {
        toldKeepsReceiving_ = true;
        if (box->clickedButton() == quit) {
            emit quitRequested();
        } else {
            hide();
        }
    });
    box->open();
}

}  // namespace velto::app
