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

    // Takes out the first item with that identifier, if there is one.
    void removeMenuItemByIdentifier(const QString& identifier);
    // Takes out the separator between the first items with identifiers a and b when it is all
    // that lies between them.
    void removeMenuSeperatorBetween(const QString& a, const QString& b);
    // Collapses every run of separators to one and drops one leading separator.
    void removeMenuStrangeSeperator();
    // The index of the first item with that identifier plus offset, else fallback.
    int findMenuByIdentifyOrDefault(const QString& identifier, int offset, int fallback) const;
    // Puts item at index (appended past the end).
    void insertAt(int index, QAction* item);

  private:
    int indexOf(const QString& identifier) const;

    QMenu& menu_;
    Identify identify_;
};

}  // namespace velto::app
