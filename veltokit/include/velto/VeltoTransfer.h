#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"
#include "velto/VeltoItem.h"
#include "velto/VeltoPeer.h"
#include "velto/VeltoTransferDelegate.h"

namespace velto {

using ItemList = std::vector<std::shared_ptr<VeltoItem>>;

// Pushes one element list to one peer over one TCP connection.
class VeltoTransfer : public TcpConnectionDelegate,
                      public std::enable_shared_from_this<VeltoTransfer> {
  public:
    static ItemList itemsForText(const std::string& text);
    static ItemList itemsForPaths(const std::vector<std::string>& paths);

    static std::shared_ptr<VeltoTransfer> create(ItemList items, VeltoPeer peer,
                                                 std::shared_ptr<DispatchQueue> dispatchQueue);

    void setDelegate(std::shared_ptr<VeltoTransferDelegate> delegate);
    void setKey(std::string key);
    const std::string& key() const;
    const VeltoPeer& peer() const;

    void start();

  protected:
    VeltoTransfer(ItemList items, VeltoPeer peer, std::shared_ptr<DispatchQueue> dispatchQueue);

  private:
    ItemList items_;
    VeltoPeer peer_;
    std::shared_ptr<DispatchQueue> dispatchQueue_;
    std::shared_ptr<VeltoTransferDelegate> delegate_;
    std::string key_;
};

}  // namespace velto
