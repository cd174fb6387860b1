#pragma once

#include <QFileDialog>
#include <QStringList>

class QLineEdit;

namespace velto::app {

// A file dialog that picks files and folders together, several at once. The platform dialogs
// choose either files or one folder, so this is Qt's own dialog with one change: Choose (or
// Enter in the list) takes whatever the user picked in the list, folders included. A name typed
// in the name field follows the rules of every file dialog: a folder opens, files are chosen.
// A double click still opens a folder.
class OpenPanel : public QFileDialog {
    Q_OBJECT
  public:
    explicit OpenPanel(QWidget* parent);

    // The chosen paths in the list's order; valid once the dialog was accepted.
    QStringList chosenPaths() const { return chosen_; }

  public slots:
    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QStringList selectedInView() const;
    QStringList typedPaths() const;
    void acceptTyped();
    // The dialog calls the button "Open" for a selected folder, which is chosen, not opened.
    void labelAcceptButton();

    QLineEdit* name_;
    QStringList chosen_;
    // The name field holds what the user typed, not the names of what the user picked. The
    // dialog also selects what a typed name matches, so the selection alone cannot tell.
    bool nameTyped_ = false;
};

}  // namespace velto::app
