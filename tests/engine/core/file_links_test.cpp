#include "core/file_links.h"

#include "writer_test_util.h"

using namespace ts;
using ts::testing::ScratchDir;
namespace fs = std::filesystem;

TEST(FollowLinks, LeadsThroughChainsToFilesNotYetMade) {
    ScratchDir dir;
    fs::create_directory(dir / "sub");
    std::string t;
    EXPECT_TRUE(FollowLinks(dir / "plain", t));  // no link, not there: itself
    EXPECT_EQ(t, dir / "plain");
    // A relative link leads from its own folder, not from the one the walk started in.
    fs::create_symlink("../real.ini", dir / "sub/a");
    fs::create_symlink("sub/a", dir / "b");
    fs::create_symlink(dir / "b", dir / "c");
    EXPECT_TRUE(FollowLinks(dir / "c", t));
    EXPECT_EQ(fs::path(t).lexically_normal(), fs::path(dir / "real.ini"));
    EXPECT_FALSE(fs::exists(t));
}

TEST(FollowLinks, LoopsAndOverlongChainsLeadNowhere) {
    ScratchDir dir;
    std::string t;
    fs::create_symlink("self", dir / "self");
    EXPECT_FALSE(FollowLinks(dir / "self", t));
    fs::create_symlink("y", dir / "x");
    fs::create_symlink("x", dir / "y");
    EXPECT_FALSE(FollowLinks(dir / "x", t));
    // The system's own limit: a chain of kMaxLinkHops links is followed, one more is not.
    for (int i = 0; i <= kMaxLinkHops; ++i)
        fs::create_symlink("l" + std::to_string(i + 1), dir / ("l" + std::to_string(i)));
    EXPECT_TRUE(FollowLinks(dir / "l1", t));
    EXPECT_EQ(fs::path(t).filename(), "l" + std::to_string(kMaxLinkHops + 1));
    EXPECT_FALSE(FollowLinks(dir / "l0", t));
    EXPECT_EQ(fs::path(t).filename(), "l" + std::to_string(kMaxLinkHops));
}
