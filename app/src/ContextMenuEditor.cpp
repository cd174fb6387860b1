#include "ContextMenuEditor.h"

#include <QAction>
#include <QMenu>

namespace velto::app {

ContextMenuEditor::ContextMenuEditor(QMenu& menu, Identify identify)
    : menu_(menu), identify_(std::move(identify)) {}

void ContextMenuEditor::keepOnly(const std::function<bool(const QAction* item)>& keep) {
    for (QAction* item : menu_.actions()) {
        if (!item->isSeparator() && !keep(item)) {
            menu_.removeAction(item);
        }
    }
}

void ContextMenuEditor::tidySeparators() {
    const QAction* previous = nullptr;
    for (QAction* item : menu_.actions()) {
        if (item->isSeparator() && (previous == nullptr || previous->isSeparator())) {
            menu_.removeAction(item);
        } else {
            previous = item;
        }
    }
    if (!menu_.actions().isEmpty() && menu_.actions().last()->isSeparator()) {
        menu_.removeAction(menu_.actions().last());
    }
}

int ContextMenuEditor::findMenuByIdentifyOrDefault(const QString& identifier, int offset,
                                                   int fallback) const {
    const auto items = menu_.actions();
    for (int i = 0; i < items.size(); ++i) {
        if (identify_(items[i]) == identifier) {
            return i + offset;
        }
    }
    return fallback;
}

void ContextMenuEditor::insertAt(int index, QAction* item) {
    menu_.insertAction(menu_.actions().value(index, nullptr), item);
}

}  // namespace velto::app
