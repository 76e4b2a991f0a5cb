// Tests for the run decision and the update plan.
#include "manifest/update_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "manifest/list_text.h"

namespace velmora::manifest {
namespace {

using testing::ListWithFiles;
using testing::TempFolder;

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

class ShouldRunUpdateTest : public ::testing::Test {
 protected:
  bool Decide(const char* localVersion, const char* remoteVersion) {
    if (localVersion != nullptr) folder_.Write("local.xml", ListWithFiles("", localVersion));
    if (remoteVersion != nullptr) folder_.Write("remote.xml", ListWithFiles("", remoteVersion));
    return ShouldRunUpdate(folder_.File("local.xml"), folder_.File("remote.xml"));
  }
  TempFolder folder_;
};

TEST_F(ShouldRunUpdateTest, MissingLocalVersionRunsWithoutLookingAtTheRemoteList) {
  EXPECT_TRUE(Decide(nullptr, nullptr));
  EXPECT_TRUE(Decide("", "1.0"));
}

TEST_F(ShouldRunUpdateTest, MissingRemoteVersionStopsTheRun) {
  EXPECT_FALSE(Decide("1.0", ""));
  folder_.Write("remote.xml", "not xml");
  EXPECT_FALSE(ShouldRunUpdate(folder_.File("local.xml"), folder_.File("remote.xml")));
}

TEST_F(ShouldRunUpdateTest, IdenticalTextsRunSoFilesCanChangeAlone) {
  EXPECT_TRUE(Decide("2.0", "2.0"));
  EXPECT_TRUE(Decide("x", "x"));
}

TEST_F(ShouldRunUpdateTest, RunsOnlyWhenTheLocalVersionIsOlderOrUncomparable) {
  EXPECT_TRUE(Decide("1.9", "2.0"));
  EXPECT_FALSE(Decide("2.0", "1.9"));
  EXPECT_FALSE(Decide("1.0", "1.00"));
  EXPECT_FALSE(Decide("1.2.0", "1.2"));
  EXPECT_TRUE(Decide("1.x", "1.0"));
  EXPECT_FALSE(Decide(" 1.0", "1.0"));
}

}  // namespace
}  // namespace velmora::manifest
