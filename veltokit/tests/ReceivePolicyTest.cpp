#include <gtest/gtest.h>

#include "velto/ReceivePolicy.h"

namespace velto {
namespace {

using enum ReceiveDecision;

const ComputerIdentity trustedHost{"10.77.0.2", "sig-trusted"};
const ComputerIdentity strangerHost{"10.77.0.3", "sig-stranger"};
const ComputerIdentity blockedHost{"10.77.0.4", "sig-blocked"};

ReceivePolicy policyIn(ReceiveMode mode) {
    return ReceivePolicy(mode, {{trustedHost.address, trustedHost.signature}},
                         {{blockedHost.address, ""}});
}

// Every mode against a trusted, an unknown and a blocked sender, for a text and for a folder:
// {on connect, text, folder}.
TEST(ReceivePolicy, EachModeDecidesForEachKindOfSenderAndContent) {
    struct Row {
        ReceiveMode mode;
        ComputerIdentity sender;
        ReceiveDecision onConnect, text, folder;
    };
    const Row rows[] = {
        {ReceiveMode::Everyone, trustedHost, Receive, Receive, Receive},
        {ReceiveMode::Everyone, strangerHost, Receive, Receive, Receive},
        {ReceiveMode::Everyone, blockedHost, Refuse, Refuse, Refuse},
        {ReceiveMode::EveryoneTimed, strangerHost, Receive, Receive, Receive},
        {ReceiveMode::EveryoneTimed, blockedHost, Refuse, Refuse, Refuse},
        {ReceiveMode::Ask, trustedHost, Receive, Receive, Receive},
        {ReceiveMode::Ask, strangerHost, Receive, Receive, Ask},
        {ReceiveMode::Ask, blockedHost, Refuse, Refuse, Refuse},
        {ReceiveMode::TrustedOnly, trustedHost, Receive, Receive, Receive},
        {ReceiveMode::TrustedOnly, strangerHost, Refuse, Refuse, Refuse},
        {ReceiveMode::TrustedOnly, blockedHost, Refuse, Refuse, Refuse},
        {ReceiveMode::Off, trustedHost, Refuse, Refuse, Refuse},
        {ReceiveMode::Off, strangerHost, Refuse, Refuse, Refuse},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(receiveModeName(row.mode)) + " from " + row.sender.address);
        const ReceivePolicy policy = policyIn(row.mode);
        EXPECT_EQ(policy.decideOnConnect(row.sender), row.onConnect);
        EXPECT_EQ(policy.decideOnContent(row.sender, true), row.text);
        EXPECT_EQ(policy.decideOnContent(row.sender, false), row.folder);
    }
}

// Trust needs the address and, when one was recorded, the signature; a block takes either.
TEST(ReceivePolicy, RecognisesComputersByAddressAndSignature) {
    const ReceivePolicy policy(ReceiveMode::TrustedOnly,
                               {{"10.77.0.2", "sig-a"}, {"10.77.0.5", ""}},
                               {{"10.77.0.9", ""}, {"10.77.0.8", "sig-b"}});
    EXPECT_TRUE(policy.isTrusted({"10.77.0.2", "sig-a"}));
    EXPECT_FALSE(policy.isTrusted({"10.77.0.2", "sig-other"}));
    EXPECT_FALSE(policy.isTrusted({"10.77.0.2", ""}));
    EXPECT_FALSE(policy.isTrusted({"10.77.0.3", "sig-a"}));
    EXPECT_TRUE(policy.isTrusted({"10.77.0.5", "anything"}));
    EXPECT_TRUE(policy.isTrusted({"10.77.0.5", ""}));

    EXPECT_TRUE(policy.isBlocked({"10.77.0.9", "sig-new"}));
    EXPECT_TRUE(policy.isBlocked({"10.77.0.7", "sig-b"}));  // moved to another address
    EXPECT_TRUE(policy.isBlocked({"10.77.0.8", ""}));
    EXPECT_FALSE(policy.isBlocked({"10.77.0.7", ""}));  // an unrecorded signature matches nothing
    // Blocked wins over trusted.
    const ReceivePolicy both(ReceiveMode::Everyone, {{"10.77.0.2", ""}}, {{"10.77.0.2", ""}});
    EXPECT_EQ(both.decideOnContent({"10.77.0.2", ""}, true), Refuse);
}

TEST(ReceivePolicy, ModeNamesRoundTripAndUnknownNamesAreRejected) {
    for (ReceiveMode mode : {ReceiveMode::Everyone, ReceiveMode::Ask, ReceiveMode::TrustedOnly,
                             ReceiveMode::Off, ReceiveMode::EveryoneTimed}) {
        EXPECT_EQ(receiveModeFromName(receiveModeName(mode)), mode);
    }
    EXPECT_EQ(receiveModeName(ReceiveMode::TrustedOnly), "trusted");
    EXPECT_EQ(receiveModeFromName("Everyone"), std::nullopt);
    EXPECT_EQ(receiveModeFromName(""), std::nullopt);
}

}  // namespace
}  // namespace velto
