#include "discovery/HttpAvatarFetcher.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>

#include "core/DispatchQueueContext.h"
#include "discovery/AvatarRequest.h"

namespace velto {

HttpAvatarFetcher::HttpAvatarFetcher(std::shared_ptr<DispatchQueue> queue, Limits limits)
    : queue_(std::move(queue)), limits_(limits) {}

void HttpAvatarFetcher::fetch(const std::string& ip, std::uint16_t metadataPort,
                              Completion completion) {
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address_v4(ip, ec);
    if (ec || metadataPort == 0) {
        // Completions never run inside fetch(): the caller may hold state it is changing.
        boost::asio::post(ioContextOf(*queue_),
                          [completion = std::move(completion)] { completion(std::nullopt); });
        return;
    }
    auto request =
        std::make_shared<AvatarRequest>(ioContextOf(*queue_), limits_, std::move(completion));
    request->start({address, metadataPort}, ip + ":" + std::to_string(metadataPort));
}

}  // namespace velto
