#pragma once

#include <QString>

class QWidget;

namespace velto::app {

// Opens a file or folder with the desktop's application for it. Where nothing on this desktop
// can take it, says so in a message over window, with the file's location so that it can be
// found by hand, and returns false.
bool openWithDesktop(const QString& path, QWidget* window);

// That message, for a file that nothing could open or show; failure says what failed.
void tellNotOpened(const QString& path, QWidget* window, const QString& failure);

}  // namespace velto::app
