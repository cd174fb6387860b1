#pragma once

#include <QString>
#include <functional>

class QAction;
class QMenu;

namespace velto::app {

// Edits a menu by item identifiers. Items are only taken out of the menu, never deleted: the
// engine's items are actions of its page that live on after the menu.
class ContextMenuEditor {
  public:
    // The identifier of an item; an empty text for an item without one.
    using Identify = std::function<QString(const QAction* item)>;

    ContextMenuEditor(QMenu& menu, Identify identify);

    // Takes out every item but the separators and those keep accepts.
    void keepOnly(const std::function<bool(const QAction* item)>& keep);
    // Takes out leading and trailing separators and collapses every run of them to one.
    void tidySeparators();
    // The index of the first item with that identifier plus offset, else fallback.
    int findMenuByIdentifyOrDefault(const QString& identifier, int offset, int fallback) const;
    // Puts item at index (appended past the end).
    void insertAt(int index, QAction* item);

  private:
    QMenu& menu_;
    Identify identify_;
};

}  // namespace velto::app
