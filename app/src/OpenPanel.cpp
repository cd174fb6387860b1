#include "OpenPanel.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QListView>
#include <algorithm>

namespace velto::app {

OpenPanel::OpenPanel(QWidget* parent) : QFileDialog(parent) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ReadOnly, true);  // no folder creation, no renaming
    setFileMode(QFileDialog::ExistingFiles);
    setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);  // hidden files stay hidden
    setWindowTitle(tr("Choose files or folders to send"));
    setLabelText(QFileDialog::Accept, tr("Choose"));
    setSizeGripEnabled(true);
    setDirectory(QDir::homePath());
}

QStringList OpenPanel::selectedInView() const {
    const auto* list = findChild<QListView*>(QStringLiteral("listView"));
    const auto* model = qobject_cast<const QFileSystemModel*>(list ? list->model() : nullptr);
    if (model == nullptr || list->selectionModel() == nullptr) {
        return {};
    }
    QModelIndexList rows = list->selectionModel()->selectedRows();
    // The list is sorted by the view; the proxy row order is what the user sees.
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList paths;
    for (const auto& row : rows) {
        paths.append(model->filePath(row));
    }
    return paths;
}

void OpenPanel::accept() {
    const QStringList selected = selectedInView();
    if (selected.isEmpty()) {
        // A typed name: the dialog's own rules (it may open a folder instead of choosing it).
        QFileDialog::accept();
        chosen_ = selectedFiles();
        return;
    }
    chosen_ = selected;
    QDialog::accept();
}

}  // namespace velto::app
