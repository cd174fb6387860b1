#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "velto/DispatchQueue.h"
#include "velto/VeltoTransfer.h"

namespace velto {

// Makes an element list on a thread of its own, which ends with it, and hands the list to the
// caller's queue: listing a tree of many thousand entries holds up no other work.
using ItemListWalk = std::function<ItemList(std::vector<SkippedPath>& skipped)>;
void listItemsElsewhere(ItemListWalk walk, std::shared_ptr<DispatchQueue> replyQueue,
                        VeltoTransfer::ItemsListed listed);

}  // namespace velto
