#pragma once

#include <QUrl>

namespace velto::app {

// What a preview shows: a list of items, each a file URL.
class PreviewDataSource {
  public:
    virtual ~PreviewDataSource() = default;
    virtual int numberOfPreviewItems() const = 0;
    virtual QUrl previewItemAt(int index) const = 0;
};

}  // namespace velto::app
