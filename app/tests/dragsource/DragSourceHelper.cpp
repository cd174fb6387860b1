// Another X client for the drag tests: a small window that starts a drag of the files named on
// its command line as soon as a mouse button goes down on it, and takes file drops, printing
// "received" and the dropped URLs.
//   velto_drag_source X Y [PATH...]   (prints "shown" once its window is mapped)
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdio>

namespace {

class DragSourceWindow : public QWidget {
  public:
    explicit DragSourceWindow(QList<QUrl> urls) : urls_(std::move(urls)) {
        setWindowTitle(QStringLiteral("drag source"));
        setStyleSheet(QStringLiteral("background: #3a7"));
        setAcceptDrops(true);
    }

  protected:
    // What a drag offers is read as it comes in: between two programs on an X display without a
    // window manager, a Qt drag source may no longer hand its data out once it is dropped.
    void dragEnterEvent(QDragEnterEvent* event) override {
        offered_.clear();
        for (const auto& url : event->mimeData()->urls()) {
            offered_.append(url.toString());
        }
        if (!offered_.isEmpty()) {
            event->acceptProposedAction();
        }
    }
    void dropEvent(QDropEvent* event) override {
        const QStringList received = std::exchange(offered_, {});
        event->acceptProposedAction();
        std::printf("received %s\n", received.join(' ').toLocal8Bit().constData());
        std::fflush(stdout);
    }
    void mousePressEvent(QMouseEvent* /*event*/) override {
        if (urls_.isEmpty()) {
            return;
        }
        auto* mime = new QMimeData;
        mime->setUrls(urls_);
        QDrag drag(this);
        drag.setMimeData(mime);
        const Qt::DropAction result = drag.exec(Qt::CopyAction);
        std::printf("dropped %d\n", static_cast<int>(result));
        std::fflush(stdout);
    }

  private:
    QList<QUrl> urls_;
    QStringList offered_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: velto_drag_source X Y [PATH...]\n");
        return 2;
    }
    QList<QUrl> urls;
    for (int i = 3; i < argc; ++i) {
        urls.append(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
    }
    DragSourceWindow window(urls);
    window.setGeometry(QString::fromLocal8Bit(argv[1]).toInt(),
                       QString::fromLocal8Bit(argv[2]).toInt(), 120, 80);
    window.show();
    QTimer::singleShot(200, [] {
        std::printf("shown\n");
        std::fflush(stdout);
    });
    return QApplication::exec();
}
