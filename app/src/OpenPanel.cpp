#include "OpenPanel.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QRegularExpression>
#include <QTreeView>
#include <algorithm>

namespace velto::app {

OpenPanel::OpenPanel(QWidget* parent) : QFileDialog(parent), name_(nullptr) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ReadOnly, true);  // no folder creation, no renaming
    setFileMode(QFileDialog::ExistingFiles);
    setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);  // hidden files stay hidden
    setWindowTitle(tr("Choose files or folders to send"));
    setLabelText(QFileDialog::Accept, tr("Choose"));
    setSizeGripEnabled(true);
    setDirectory(QDir::homePath());

    // Connected after the dialog's own handlers, so these see what they left.
    name_ = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name_ != nullptr) {
        connect(name_, &QLineEdit::textEdited, this, [this] { nameTyped_ = true; });
        connect(name_, &QLineEdit::textChanged, this, &OpenPanel::labelAcceptButton);
    }
    auto* list = findChild<QListView*>(QStringLiteral("listView"));
    if (list != nullptr && list->selectionModel() != nullptr) {
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &OpenPanel::labelAcceptButton);
    }
    // Picking in the list or the detail view, by mouse or keys, makes the selection the user's.
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(list),
          static_cast<QAbstractItemView*>(findChild<QTreeView*>(QStringLiteral("treeView")))}) {
        if (view != nullptr) {
            view->installEventFilter(this);
            view->viewport()->installEventFilter(this);
        }
    }
    connect(this, &QFileDialog::directoryEntered, this, [this] { nameTyped_ = false; });
}

bool OpenPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        nameTyped_ = false;
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !selectedInView().isEmpty()) {
            nameTyped_ = false;
            accept();  // as the button does, instead of opening the current folder
            return true;
        }
        nameTyped_ = false;
    }
    return QFileDialog::eventFilter(watched, event);
}

void OpenPanel::labelAcceptButton() {
    if (!nameTyped_ && !selectedInView().isEmpty()) {
        setLabelText(QFileDialog::Accept, tr("Choose"));
    }
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

QStringList OpenPanel::typedPaths() const {
    const QString text = name_ != nullptr ? name_->text().trimmed() : QString();
    QStringList names;
    if (text.contains(QLatin1Char('"'))) {  // "a" "b", as the dialog writes several names
        static const QRegularExpression quoted(QStringLiteral("\"([^\"]+)\""));
        for (auto match = quoted.globalMatch(text); match.hasNext();) {
            names.append(match.next().captured(1));
        }
    } else if (!text.isEmpty()) {
        names.append(text);
    }
    QStringList paths;
    for (QString entry : names) {
        if (entry == QLatin1String("~") || entry.startsWith(QLatin1String("~/"))) {
            entry = QDir::homePath() + entry.mid(1);
        }
        paths.append(QDir::cleanPath(directory().absoluteFilePath(entry)));
    }
    return paths;
}

void OpenPanel::acceptTyped() {
    const QStringList typed = typedPaths();
    if (typed.isEmpty() || !std::all_of(typed.begin(), typed.end(), [](const QString& path) {
            return QFileInfo::exists(path);
        })) {
        return;  // nothing there: the dialog stays, as its disabled button says
    }
    const auto folder = std::find_if(typed.begin(), typed.end(),
                                     [](const QString& path) { return QFileInfo(path).isDir(); });
    if (folder != typed.end()) {
        setDirectory(*folder);
        name_->clear();
        return;
    }
    chosen_ = typed;
    QDialog::accept();
}

void OpenPanel::accept() {
    if (nameTyped_) {
        acceptTyped();
        return;
    }
    const QStringList selected = selectedInView();
    if (selected.isEmpty()) {
        return;
    }
    chosen_ = selected;
    QDialog::accept();
}

}  // namespace velto::app
