#include "frame/peer_address.h"

#include <gtest/gtest.h>

#include "frame/websocket.h"

namespace brisel::frame {
namespace {

TEST(PeerAddressTest, Ipv4MappedAddressesAreWrittenAsIpv4) {
    EXPECT_EQ(normalisedPeerAddress("::ffff:127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(normalisedPeerAddress("::FFFF:10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(normalisedPeerAddress("::1"), "::1");
    EXPECT_EQ(normalisedPeerAddress("::ffff:1:2"), "::ffff:1:2");
    EXPECT_EQ(normalisedPeerAddress("fe80::1"), "fe80::1");
    EXPECT_EQ(normalisedPeerAddress(""), "");
}

TEST(PeerAddressTest, OnlyLocalPeersAreServed) {
    EXPECT_EQ(admissionOf("127.0.0.1"), PeerAdmission::served);
    EXPECT_EQ(admissionOf("localhost"), PeerAdmission::served);
    EXPECT_EQ(admissionOf("::1"), PeerAdmission::served);
    EXPECT_EQ(admissionOf(normalisedPeerAddress("::ffff:127.0.0.1")), PeerAdmission::served);
    EXPECT_EQ(admissionOf("127.0.0.2"), PeerAdmission::refused);
    EXPECT_EQ(admissionOf("::ffff:127.0.0.1"), PeerAdmission::refused);
    EXPECT_EQ(admissionOf("192.168.1.10"), PeerAdmission::refused);
    EXPECT_EQ(admissionOf(""), PeerAdmission::refused);
}

}  // namespace
}  // namespace brisel::frame
