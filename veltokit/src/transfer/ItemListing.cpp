#include "transfer/ItemListing.h"

namespace velto {

void listItemsElsewhere(ItemListWalk walk, std::shared_ptr<DispatchQueue> replyQueue,
                        VeltoTransfer::ItemsListed listed) {
    auto queue = DispatchQueue::create("listing");
    // The work holds its queue, which it thus releases on the queue's own thread when done.
    queue->async([queue, walk = std::move(walk), replyQueue = std::move(replyQueue),
                  listed = std::move(listed)]() mutable {
        std::vector<SkippedPath> skipped;
        ItemList items = walk(skipped);
        replyQueue->async([items = std::move(items), skipped = std::move(skipped),
                           listed = std::move(listed)]() mutable {
            listed(std::move(items), std::move(skipped));
        });
    });
}

void VeltoTransfer::itemsForPaths(std::vector<std::string> paths,
                                  std::shared_ptr<DispatchQueue> replyQueue, ItemsListed listed) {
    listItemsElsewhere(
        [paths = std::move(paths)](std::vector<SkippedPath>& skipped) {
            return itemsForPaths(paths, skipped);
        },
        std::move(replyQueue), std::move(listed));
}

}  // namespace velto
