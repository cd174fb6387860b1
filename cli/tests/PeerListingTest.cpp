#include <gtest/gtest.h>

#include "PeerListing.h"

namespace velto::cli {
namespace {

PeerListing::Table twoPeers() {
    VeltoPeer withPicture("10.77.0.12", "10.77.0.12", 4644, "Ann at Office [Velto] (Linux)", {});
    withPicture.avatar = "data:image/png;base64,UE5H";
    VeltoPeer loading("10.77.0.13", "10.77.0.13", 5000, "Bo at Büro [Velto] (Linux)", {});
    loading.avatar = "loading";
    return {{withPicture.key, withPicture}, {loading.key, loading}};
}

TEST(PeerListing, TextHasOneAlignedRowPerPeer) {
    EXPECT_EQ(PeerListing::toText(twoPeers()),
              "KEY         PORT   AVATAR  SIGNATURE\n"
              "10.77.0.12  4644   yes     Ann at Office [Velto] (Linux)\n"
              "10.77.0.13  5000   no      Bo at Büro [Velto] (Linux)\n");
    EXPECT_EQ(PeerListing::toText({}), "No peers found.\n");
}

}  // namespace
}  // namespace velto::cli
