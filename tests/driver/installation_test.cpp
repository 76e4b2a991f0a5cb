// Tests of the placement journal: a rollback that cannot finish, and what the next run does with the journal.
#include "driver/installation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/encoding.h"
#include "support/file_support.h"
#include "support/temp_folder.h"

namespace velmora::driver {
namespace {

using velmora::testing::Exists;
using velmora::testing::ReadFile;
using velmora::testing::TempFolder;
using velmora::testing::WriteFile;

class JournalTest : public ::testing::Test {
 protected:
  std::string App(const std::string& name) const { return temp_.Dir() + "app/" + name; }
  std::u16string Wide(const std::string& name) const { return platform::Utf8ToWide(App(name)); }

  TempFolder temp_;
  const std::u16string install_ = Wide("");
  const std::u16string retire_ = Wide(".RECYCLER/");
  const std::u16string journal_ = Wide("temp/.journal");
};

TEST_F(JournalTest, ARollbackThatCannotFinishKeepsTheJournalAndTheNextRunFinishesIt) {
  for (const char* name : {"a.dll", "b.dll"}) {
    ASSERT_TRUE(WriteFile(App(name), std::string("old ") + name));
    ASSERT_TRUE(WriteFile(App("temp/") + name, std::string("new ") + name));
  }
  const auto folders = std::make_shared<const MoveFolders>(MoveFolders{Wide("temp/"), install_, Wide(".RECYCLER/run/")});
  Installation installation(journal_, install_, retire_);
  std::u16string failed, unrestored;
  ASSERT_EQ(installation.Apply({{folders, u"a.dll"}, {folders, u"b.dll"}}, &failed, &unrestored), ApplyResult::kApplied);
  // The retired copy of a.dll is out of reach for a while (held, on Windows).
  ASSERT_TRUE(WriteFile(App("held"), ReadFile(App(".RECYCLER/run/a.dll"))));
  ASSERT_EQ(::rename(App(".RECYCLER/run/a.dll").c_str(), App("held").c_str()), 0);
  EXPECT_FALSE(installation.RollBack(&unrestored));
  EXPECT_EQ(platform::WideToUtf8(unrestored), App("a.dll"));
  EXPECT_EQ(ReadFile(App("b.dll")), "old b.dll");
  ASSERT_TRUE(Exists(App("temp/.journal"))) << "what is left must be finished by the next run";

  ASSERT_EQ(::rename(App("held").c_str(), App(".RECYCLER/run/a.dll").c_str()), 0);
  const Recovery recovery = RecoverInterruptedRun(journal_, install_, retire_);
  EXPECT_EQ(recovery.restored.size(), 1u);
  EXPECT_TRUE(recovery.unrestored.empty());
  EXPECT_EQ(ReadFile(App("a.dll")), "old a.dll");
  EXPECT_FALSE(Exists(App("temp/.journal")));
}

TEST_F(JournalTest, TheNextRunPutsBackOnlyNamesInsideTheInstallation) {
  ASSERT_TRUE(WriteFile(App("a.dll"), "new"));
  ASSERT_TRUE(WriteFile(App(".RECYCLER/run/a.dll"), "old"));
  ASSERT_TRUE(WriteFile(App(".RECYCLER/run/key"), "planted"));
  ASSERT_TRUE(WriteFile(temp_.Dir() + "outside/UpdateKey.pub", "precious"));
  ASSERT_TRUE(WriteFile(App("temp/.journal"), "a.dll\trun/a.dll\n" + App("x") + "\trun/key\n" +
                                                  "..\\outside\\UpdateKey.pub\trun/key\n"
                                                  "a.dll\t../../outside/UpdateKey.pub\nno tab\nc.dll\trun/c"));
  const Recovery recovery = RecoverInterruptedRun(journal_, install_, retire_);
  EXPECT_EQ(ReadFile(App("a.dll")), "old");
  EXPECT_EQ(recovery.ignored.size(), 4u);
  EXPECT_EQ(ReadFile(temp_.Dir() + "outside/UpdateKey.pub"), "precious");
  EXPECT_FALSE(Exists(App("x")));
  EXPECT_FALSE(Exists(App("temp/.journal")));
}

}  // namespace
}  // namespace velmora::driver
