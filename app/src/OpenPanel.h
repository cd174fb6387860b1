#pragma once

#include <QFileDialog>
#include <QStringList>

namespace velto::app {

// A file dialog that picks files and folders together, several at once. The platform dialogs
// choose either files or one folder, so this is Qt's own dialog with one change: "Open" takes
// whatever is selected in the list, folders included, while a double click still opens a folder.
class OpenPanel : public QFileDialog {
    Q_OBJECT
  public:
    explicit OpenPanel(QWidget* parent);

    // The chosen paths in the list's order; valid once the dialog was accepted.
    QStringList chosenPaths() const { return chosen_; }

  public slots:
    void accept() override;

  private:
    QStringList selectedInView() const;

    QStringList chosen_;
};

}  // namespace velto::app
