// UniqueFd closes its descriptor exactly once, wherever ownership has moved to.
#include "net/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace quelmark;

namespace {

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, ClosesOnceWhereverOwnershipWent)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        UniqueFd first(fds[0]);
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first.Valid());
        UniqueFd third;
        third = std::move(second);
        EXPECT_EQ(third.Get(), fds[0]);
        EXPECT_TRUE(IsOpen(fds[0]));
        third.Reset(fds[1]);
        EXPECT_FALSE(IsOpen(fds[0])) << "Reset closes the descriptor it replaces";
        EXPECT_TRUE(IsOpen(fds[1]));
    }
    EXPECT_FALSE(IsOpen(fds[1]));

    ASSERT_EQ(::pipe(fds), 0);
    {
        UniqueFd kept(fds[0]);
        EXPECT_EQ(kept.Release(), fds[0]);
        UniqueFd closed(fds[1]);
    }
    EXPECT_TRUE(IsOpen(fds[0])) << "a released descriptor belongs to the caller";
    EXPECT_FALSE(IsOpen(fds[1]));
    ::close(fds[0]);
}

} // namespace
