#pragma once

#include <QJsonObject>

#include "velto/VeltoPeer.h"

namespace velto::app {

// A peer as the page sees it: "key", "ip", "port" (a number), "systemSignature", and "avatar"
// only once a picture has arrived.
QJsonObject packPeer(const VeltoPeer& peer);

}  // namespace velto::app
