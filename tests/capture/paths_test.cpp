#include "capture/paths.h"

#include <gtest/gtest.h>

namespace {

TEST(Paths, ExtensionIsTheLastDotWithoutSpaceOrSlashAfterIt) {
    EXPECT_EQ(qpaths::ExtensionOf("shot.png"), "png");
    EXPECT_EQ(qpaths::ExtensionOf("a.b.c"), "c");
    EXPECT_EQ(qpaths::ExtensionOf("dir.d/shot"), "");
    EXPECT_EQ(qpaths::ExtensionOf("shot.png x"), "");
    EXPECT_EQ(qpaths::ExtensionOf("noext"), "");
    EXPECT_EQ(qpaths::RemoveAllExtensions("a.b.c"), "a");
    EXPECT_EQ(qpaths::RemoveAllExtensions("dir.d/shot.tar.gz"), "dir.d/shot");
    EXPECT_EQ(qpaths::RemoveExtension("a.b.c"), "a.b");
    EXPECT_EQ(qpaths::AddExtension("shot", ".png"), "shot.png");
    EXPECT_EQ(qpaths::AddExtension("shot.jpg", ".png"), "shot.jpg");
    EXPECT_EQ(qpaths::RemoveBlanks("  a b  "), "a b");
}

TEST(Paths, CombineJoinsAndRemovesDotComponents) {
    EXPECT_EQ(qpaths::Combine("/data/shots", "a.png"), "/data/shots/a.png");
    EXPECT_EQ(qpaths::Combine("/data/shots/", "a.png"), "/data/shots/a.png");
    EXPECT_EQ(qpaths::Combine("/data/./shots", "../a.png"), "/data/a.png");
    EXPECT_EQ(qpaths::Combine("/", "../../a.png"), "/a.png");
    EXPECT_EQ(qpaths::Combine("rel", "a.png"), "rel/a.png");
    EXPECT_EQ(qpaths::Combine("", "a.png"), "a.png");
    // An absolute name is taken as it stands; an empty one gives the directory.
    EXPECT_EQ(qpaths::Combine("/data", "/tmp/x/../y.png"), "/tmp/x/../y.png");
    EXPECT_EQ(qpaths::Combine("/data/shots", ""), "/data/shots");
}

} // namespace
