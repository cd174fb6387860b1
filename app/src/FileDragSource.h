#pragma once

#include <QStringList>

class QWidget;

namespace velto::app {

// Drags files out of the window as file URLs, showing the first file's icon. Returns when the
// drag has ended (dropped or cancelled).
void dragFilesOut(QWidget* source, const QStringList& files);

}  // namespace velto::app
