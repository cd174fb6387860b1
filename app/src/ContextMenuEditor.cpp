#include "ContextMenuEditor.h"

#include <QAction>
#include <QMenu>

namespace velto::app {

ContextMenuEditor::ContextMenuEditor(QMenu& menu, Identify identify)
    : menu_(menu), identify_(std::move(identify)) {}

int ContextMenuEditor::indexOf(const QString& identifier) const {
    const auto items = menu_.actions();
    for (int i = 0; i < items.size(); ++i) {
        if (identify_(items[i]) == identifier) {
            return i;
        }
    }
    return -1;
}

void ContextMenuEditor::removeMenuItemByIdentifier(const QString& identifier) {
    const int index = indexOf(identifier);
    if (index >= 0) {
        menu_.removeAction(menu_.actions().at(index));
    }
}

void ContextMenuEditor::removeMenuSeperatorBetween(const QString& a, const QString& b) {
    const int i = indexOf(a);
    const int j = indexOf(b);
    if (i < 0 || j != i + 2) {
        return;
    }
    QAction* between = menu_.actions().at(i + 1);
    if (between->isSeparator()) {
        menu_.removeAction(between);
    }
}

void ContextMenuEditor::removeMenuStrangeSeperator() {
    if (menu_.actions().isEmpty()) {
        return;
    }
    if (menu_.actions().first()->isSeparator()) {
        menu_.removeAction(menu_.actions().first());
    }
    int i = 0;
    int j = 1;
    while (j < menu_.actions().size()) {
        const auto items = menu_.actions();
        if (items[i]->isSeparator() && items[j]->isSeparator()) {
            menu_.removeAction(items[i]);
        } else {
            i = j;
            ++j;
        }
    }
}

int ContextMenuEditor::findMenuByIdentifyOrDefault(const QString& identifier, int offset,
                                                   int fallback) const {
    const int index = indexOf(identifier);
    return index < 0 ? fallback : index + offset;
}

void ContextMenuEditor::insertAt(int index, QAction* item) {
    menu_.insertAction(menu_.actions().value(index, nullptr), item);
}

}  // namespace velto::app
