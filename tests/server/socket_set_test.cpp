#include "server/socket_set.h"

#include <gtest/gtest.h>

namespace pellvane {
namespace {

TEST(SocketSet, KeepsOrderHoldsEachHandleOnceAndStopsAt64) {
    SocketSet set;
    for (net::SocketHandle socket = 100; socket < 170; ++socket) {
        set.add(socket);
    }
    EXPECT_EQ(set.count(), 64u);
    EXPECT_TRUE(set.full());
    EXPECT_FALSE(set.contains(164));
    EXPECT_FALSE(set.add(200));
    EXPECT_TRUE(set.add(100));  // already there
    EXPECT_EQ(set.count(), 64u);

    set.remove(101);
    EXPECT_EQ(set.count(), 63u);
    EXPECT_EQ(set[0], 100);
    EXPECT_EQ(set[1], 102);
    EXPECT_EQ(set[62], 163);
    set.remove(999);
    EXPECT_EQ(set.count(), 63u);
}

}  // namespace
}  // namespace pellvane
