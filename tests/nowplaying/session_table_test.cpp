#include "tools/nowplaying/session_table.h"

#include <gtest/gtest.h>

namespace zelk {
namespace {

std::vector<std::string> Ids(const std::vector<SessionTable::Entry>& entries) {
    std::vector<std::string> ids;
    for (const auto& e : entries) ids.push_back(e.id);
    return ids;
}

TEST(SessionTable, ObjectsKeepTheirIdsAndGoneOnesAreRemoved) {
    SessionTable table;
    auto c = table.Reconcile({{1, "Spotify.exe"}, {2, "Chrome"}, {2, "Chrome"}, {3, ""}});
    EXPECT_EQ(Ids(c.added), (std::vector<std::string>{"Spotify.exe#1", "Chrome#2", "session#3"}));

    c = table.Reconcile({{2, "Chrome"}, {4, "vlc"}});
    EXPECT_EQ(Ids(c.added), std::vector<std::string>{"vlc#4"});
    EXPECT_EQ(Ids(c.removed), (std::vector<std::string>{"Spotify.exe#1", "session#3"}));
    EXPECT_TRUE(c.rebound.empty());
    EXPECT_EQ(table.IdOf(2), "Chrome#2");
    EXPECT_FALSE(table.IdOf(1).has_value());
}

TEST(SessionTable, NewObjectOfAnAppWhoseSessionLeftTheListKeepsItsId) {
    SessionTable table;
    table.Reconcile({{1, "Chrome"}, {2, "Chrome"}});
    // Object 1 replaced by 7: the same session. Object 2 stays; no second Chrome appears.
    const auto c = table.Reconcile({{7, "Chrome"}, {2, "Chrome"}});
    ASSERT_EQ(c.rebound.size(), 1u);
    EXPECT_EQ(c.rebound[0].first, 1u);
    EXPECT_EQ(c.rebound[0].second.identity, 7u);
    EXPECT_EQ(c.rebound[0].second.id, "Chrome#1");
    EXPECT_TRUE(c.added.empty());
    EXPECT_TRUE(c.removed.empty());
    EXPECT_EQ(table.IdOf(7), "Chrome#1");

    // Ensure: a current session before the list names it, once.
    bool added = false;
    EXPECT_EQ(table.Ensure({9, "Edge"}, &added), "Edge#3");
    EXPECT_TRUE(added);
    EXPECT_EQ(table.Ensure({9, "Edge"}, &added), "Edge#3");
    EXPECT_FALSE(added);
    // Another object of an application with one session is that session; with two, a new one.
    EXPECT_EQ(table.Ensure({10, "Edge"}, &added), "Edge#3");
    EXPECT_FALSE(added);
    EXPECT_EQ(table.Ensure({11, "Chrome"}, &added), "Chrome#4");
    EXPECT_TRUE(added);
    EXPECT_EQ(table.Entries().size(), 4u);
}

TEST(SessionTable, LongApplicationIdsAreCut) {
    SessionTable table;
    const auto c = table.Reconcile({{1, std::string(5000, 'a')}});
    ASSERT_EQ(c.added.size(), 1u);
    EXPECT_EQ(c.added[0].id, std::string(128, 'a') + "#1");
}

}  // namespace
}  // namespace zelk
