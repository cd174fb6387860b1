#pragma once

class QObject;
class QWebEngineProfile;

namespace velto::app {

// The page's storage lives in a profile kept under the user's data folder, so that the
// conversations are still there after a restart.
QWebEngineProfile* createPersistentWebProfile(QObject* parent);

}  // namespace velto::app
