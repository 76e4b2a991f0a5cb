// Tests for the run decision and the update plan.
#include "manifest/update_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>


namespace velmora::manifest {
namespace {


FileTable Table(std::initializer_list<std::pair<const char*, const char*>> entries) {
  FileTable table;
  std::uint32_t size = 1;
  for (const auto& [name, version] : entries) {
    FileEntry entry;
    entry.name = name;
    entry.version = version;
    entry.size = size++;
    table.emplace(name, entry);
  }
  return table;
}

TEST(BuildUpdatePlan, NewFilesAreMarkedNewAndOlderOnesChanged) {
  const FileTable local = Table({{"a.dll", "1.0"}, {"b.dll", "2.0"}, {"only-local.dll", "1"}});
  const FileTable remote = Table({{"a.dll", "1.1"}, {"b.dll", "2.0"}, {"c.dll", "1"}});
  const FileTable plan = BuildUpdatePlan(local, remote);
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_FALSE(plan.at("a.dll").isNew);
  EXPECT_EQ(plan.at("a.dll").version, "1.1");
  EXPECT_EQ(plan.at("a.dll").size, remote.at("a.dll").size);
  EXPECT_TRUE(plan.at("c.dll").isNew);
  EXPECT_EQ(plan.count("only-local.dll"), 0u);
}

TEST(BuildUpdatePlan, NewerOrEqualLocalVersionsAreNeverFetched) {
  const FileTable plan = BuildUpdatePlan(Table({{"a", "3.1"}, {"b", "1.00"}, {"c", "1.2.0"}}),
                                         Table({{"a", "3.0"}, {"b", "1.0"}, {"c", "1.2"}}));
  EXPECT_TRUE(plan.empty());
}

TEST(BuildUpdatePlan, UncomparableVersionsAreFetched) {
  const FileTable plan = BuildUpdatePlan(Table({{"a", "1.0"}, {"b", "x"}}),
                                         Table({{"a", "1.x"}, {"b", "1"}}));
  EXPECT_EQ(plan.size(), 2u);
  EXPECT_FALSE(plan.at("a").isNew);
  EXPECT_FALSE(plan.at("b").isNew);
}

TEST(BuildUpdatePlan, NamesDifferingInCaseAreDifferentFiles) {
  const FileTable plan = BuildUpdatePlan(Table({{"a.dll", "9"}}), Table({{"A.dll", "1"}}));
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_TRUE(plan.at("A.dll").isNew);
}

TEST(BuildUpdatePlan, RemoteEntriesMarkedChangedBecomeNewWhenLocalLacksThem) {
  FileTable remote = Table({{"a", "1"}});
  remote.at("a").isNew = false;
  EXPECT_TRUE(BuildUpdatePlan(FileTable(), remote).at("a").isNew);
}

TEST(ShouldRunUpdate, RunsWithoutALocalVersionOnIdenticalTextsOrWhenTheLocalOneIsOlder) {
  EXPECT_TRUE(ShouldRunUpdate("", "1.0"));
  // Identical texts run, so files can change alone.
  EXPECT_TRUE(ShouldRunUpdate("2.0", "2.0"));
  EXPECT_TRUE(ShouldRunUpdate("x", "x"));
  EXPECT_TRUE(ShouldRunUpdate("1.9", "2.0"));
  EXPECT_FALSE(ShouldRunUpdate("2.0", "1.9"));
  EXPECT_FALSE(ShouldRunUpdate("1.0", "1.00"));
  EXPECT_FALSE(ShouldRunUpdate("1.2.0", "1.2"));
  EXPECT_TRUE(ShouldRunUpdate("1.x", "1.0"));
  EXPECT_FALSE(ShouldRunUpdate(" 1.0", "1.0"));
}

}  // namespace
}  // namespace velmora::manifest
