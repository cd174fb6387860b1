#include "PreviewWindow.h"

#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "DesktopOpener.h"
#include "PreviewDataSource.h"

namespace velto::app {

namespace {
constexpr int iconSize = 128;
const QSize imageArea(880, 600);

QString displayName(const QFileInfo& info) {
    return info.fileName().isEmpty() ? info.absoluteFilePath() : info.fileName();
}
}  // namespace

PreviewWindow::PreviewWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      previous_(new QToolButton),
      next_(new QToolButton),
      title_(new QLabel),
      pages_(new QStackedWidget),
      image_(new QLabel),
      text_(new QPlainTextEdit),
      textNote_(new QLabel),
      textPage_(new QWidget),
      infoPage_(new QWidget),
      infoIcon_(new QLabel),
      infoName_(new QLabel),
      infoDetail_(new QLabel),
      open_(new QPushButton(tr("Open"))) {
    setObjectName(QStringLiteral("previewWindow"));
    resize(720, 520);

    previous_->setArrowType(Qt::LeftArrow);
    previous_->setToolTip(tr("Previous"));
    next_->setArrowType(Qt::RightArrow);
    next_->setToolTip(tr("Next"));
    title_->setAlignment(Qt::AlignCenter);
    title_->setTextInteractionFlags(Qt::NoTextInteraction);
    connect(previous_, &QToolButton::clicked, this, &PreviewWindow::showPrevious);
    connect(next_, &QToolButton::clicked, this, &PreviewWindow::showNext);
    auto* header = new QHBoxLayout;
    header->addWidget(previous_);
    header->addWidget(title_, 1);
    header->addWidget(next_);

    image_->setAlignment(Qt::AlignCenter);

    text_->setReadOnly(true);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* textLayout = new QVBoxLayout(textPage_);
    textLayout->setContentsMargins(0, 0, 0, 0);
    textLayout->addWidget(text_, 1);
    textLayout->addWidget(textNote_);

    infoIcon_->setAlignment(Qt::AlignCenter);
    infoName_->setAlignment(Qt::AlignCenter);
    infoName_->setWordWrap(true);
    QFont nameFont = infoName_->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.3);
    infoName_->setFont(nameFont);
    infoDetail_->setAlignment(Qt::AlignCenter);
    connect(open_, &QPushButton::clicked, this, [this] { openWithDesktop(path_, this); });
    auto* infoLayout = new QVBoxLayout(infoPage_);
    infoLayout->addStretch(1);
    infoLayout->addWidget(infoIcon_);
    infoLayout->addWidget(infoName_);
    infoLayout->addWidget(infoDetail_);
    infoLayout->addWidget(open_, 0, Qt::AlignHCenter);
    infoLayout->addStretch(1);

    pages_->addWidget(image_);
    pages_->addWidget(textPage_);
    pages_->addWidget(infoPage_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(pages_, 1);
}

int PreviewWindow::count() const {
    return source_ == nullptr ? 0 : source_->numberOfPreviewItems();
}

void PreviewWindow::showItem(int index) {
    index_ = index;
    path_ = source_ == nullptr ? QString() : source_->previewItemAt(index).toLocalFile();
    const QFileInfo info(path_);
    const int total = count();
    title_->setText(total > 1
                        ? tr("%1  (%2 of %3)").arg(displayName(info)).arg(index + 1).arg(total)
                        : displayName(info));
    setWindowTitle(displayName(info));
    previous_->setEnabled(index > 0);
    next_->setEnabled(index + 1 < total);
    if (!showImage() && !showText()) {
        showInfo();
    }
}

void PreviewWindow::showNext() {
    if (index_ + 1 < count()) {
        showItem(index_ + 1);
    }
}

void PreviewWindow::showPrevious() {
    if (index_ > 0) {
        showItem(index_ - 1);
    }
}

bool PreviewWindow::showImage() {
    QImageReader reader(path_);
    reader.setAutoTransform(true);
    if (!QFileInfo(path_).isFile() || !reader.canRead()) {
        return false;
    }
    const QImage picture = reader.read();
    if (picture.isNull()) {
        return false;
    }
    const QImage shown =
        picture.width() > imageArea.width() || picture.height() > imageArea.height()
            ? picture.scaled(imageArea, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : picture;
    image_->setPixmap(QPixmap::fromImage(shown));
    pages_->setCurrentWidget(image_);
    kind_ = Kind::Image;
    return true;
}

bool PreviewWindow::showText() {
    const QFileInfo info(path_);
    if (!info.isFile() ||
        !QMimeDatabase().mimeTypeForFile(info).inherits(QStringLiteral("text/plain"))) {
        return false;
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray head = file.read(textPreviewBytes);
    text_->setPlainText(QString::fromUtf8(head));
    const bool cut = info.size() > head.size();
    textNote_->setText(
        cut ? tr("The first %1 of %2 bytes")
                  .arg(QLocale().toString(head.size()), QLocale().toString(info.size()))
            : QString());
    textNote_->setVisible(cut);
    pages_->setCurrentWidget(textPage_);
    kind_ = Kind::Text;
    return true;
}

void PreviewWindow::showInfo() {
    const QFileInfo info(path_);
    infoIcon_->setPixmap(QFileIconProvider().icon(info).pixmap(iconSize));
    infoName_->setText(displayName(info));
    if (!info.exists()) {
        infoDetail_->setText(tr("Not found"));
    } else if (info.isDir()) {
        infoDetail_->setText(tr("Folder"));
    } else {
        infoDetail_->setText(tr("%1 (%2 bytes)")
                                 .arg(QLocale().formattedDataSize(info.size()))
                                 .arg(QLocale().toString(info.size())));
    }
    open_->setEnabled(info.exists());
    pages_->setCurrentWidget(infoPage_);
    kind_ = Kind::Info;
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Right:
        case Qt::Key_Down:
            showNext();
            return;
        case Qt::Key_Left:
        case Qt::Key_Up:
            showPrevious();
            return;
        case Qt::Key_Escape:
        case Qt::Key_Space:
            close();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace velto::app
