#pragma once

#include <QJsonObject>
#include <QLocale>
#include <QString>

namespace velto::app {

// The page's words in the user's language: the catalog among the page's resources for the
// locale ("de_AT", else "de"), as {"language", "catalog"}; English, the page's own words, has
// none and gets an empty catalog.
class PageCatalog {
  public:
    static constexpr const char* folder = ":/dist/i18n";

    static QJsonObject forLocale(const QLocale& locale, const QString& from = QString(folder));
};

}  // namespace velto::app
