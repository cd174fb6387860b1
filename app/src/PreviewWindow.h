#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace velto::app {

class PreviewDataSource;

// Our own preview: a picture as a picture, the first part of a text file as text, anything else
// as its icon, name and size with a button that opens it. Several items are stepped through in
// the source's order (arrow keys or the buttons); Escape or Space closes.
class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr qint64 textPreviewBytes = 64 * 1024;

    explicit PreviewWindow(QWidget* parent = nullptr);

    void setDataSource(PreviewDataSource* source) { source_ = source; }
    void showItem(int index);
    int currentIndex() const { return index_; }

    enum class Kind { Image, Text, Info };
    Kind currentKind() const { return kind_; }
    QString currentPath() const { return path_; }

  public slots:
    void showNext();
    void showPrevious();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int count() const;
    bool showImage();
    bool showText();
    void showInfo();

    PreviewDataSource* source_ = nullptr;
    int index_ = 0;
    Kind kind_ = Kind::Info;
    QString path_;

    QToolButton* previous_;
    QToolButton* next_;
    QLabel* title_;
    QStackedWidget* pages_;
    QLabel* image_;
    QPlainTextEdit* text_;
    QLabel* textNote_;
    QWidget* textPage_;
    QWidget* infoPage_;
    QLabel* infoIcon_;
    QLabel* infoName_;
    QLabel* infoDetail_;
    QPushButton* open_;
};

}  // namespace velto::app
