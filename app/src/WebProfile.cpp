#include "WebProfile.h"

#include <QWebEngineProfile>

namespace velto::app {

QWebEngineProfile* createPersistentWebProfile(QObject* parent) {
    auto* profile = new QWebEngineProfile(QStringLiteral("velto"), parent);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);  // the page comes from resources
    return profile;
}

}  // namespace velto::app
