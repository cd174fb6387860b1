#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace velto::app {

class ViewController;

// Carries the payload of one chat-history menu and performs its items. Made a child of the
// menu, so it lives exactly as long as the menu.
class VeltoChatHistoryMenuDelegate : public QObject {
    Q_OBJECT
  public:
    VeltoChatHistoryMenuDelegate(std::shared_ptr<ViewController> viewController,
                                 QJsonObject payload, QObject* parent);

    // The first of the payload's files, if "file" is a non-empty list of texts.
    std::optional<QString> getFirstFile() const;

  public slots:
    void quickLookFile();
    void openFile();
    void revealFile();
    void copyWholeTextMessage();
    // Has the page send the message of the payload's "retry" again.
    void retryMessage();

  private:
    std::optional<QStringList> files() const;

    std::shared_ptr<ViewController> viewController_;
    QJsonObject payload_;
};

}  // namespace velto::app
