#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace velto::app {

// What the page shows of a file or folder it names: whether it is still there, whether it is a
// folder and how many items (files and folders, at any depth) the folder holds.
class FileDescription {
  public:
    // Folders larger than this are counted up to it: a count must not keep the window waiting.
    static constexpr int maximumCount = 100000;

    // {"path", "exists", "folder", "items"} of one path.
    static QJsonObject describe(const QString& path);
    // The same for each text of the list, in its order; other elements are left out.
    static QJsonArray describeAll(const QJsonArray& paths);
};

}  // namespace velto::app
