// Tests of the name policy: the path a name installs to, and the updater's own names.
#include "layout/name_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layout/own_files.h"
#include "platform/encoding.h"
#include "platform/paths.h"

namespace velmora::layout {
namespace {

std::u16string KeyOf(const std::string& name) {
  std::u16string key;
  EXPECT_TRUE(InstalledPathKey(name, &key)) << name;
  return key;
}

TEST(InstalledPathKey, SpellingsOfOnePathShareOneKey) {
  const std::vector<std::vector<std::string>> samePlace = {
      {"a/x", "a\\x", "a\\\\x", "A//X", "a\\x\\"},
      {"\xC3\xA9t\xC3\xA9.txt", "\xC3\x89T\xC3\x89.TXT"},           // é and É
      {"\xD0\xB4\xD0\xBE\xD0\xBC", "\xD0\x94\xD0\x9E\xD0\x9C"},     // Cyrillic
      {"\xCE\xA3\xCF\x82", "\xCF\x83\xCE\xA3"},                     // final and plain sigma
      {"\xEF\xBD\x81.txt", "\xEF\xBC\xA1.TXT"},                     // full-width a
      {"\xC5\x82\xC3\xB3" "d\xC5\xBA", "\xC5\x81\xC3\x93" "D\xC5\xB9"},  // Latin Extended-A
  };
  for (const std::vector<std::string>& names : samePlace) {
    for (const std::string& name : names) EXPECT_EQ(KeyOf(name), KeyOf(names[0])) << name;
  }
  // Letters with no case of their own, and names that merely look alike.
  EXPECT_NE(KeyOf("a.txt"), KeyOf("a .txt"));
  EXPECT_NE(KeyOf("\xE4\xB8\xAD"), KeyOf("\xE4\xB8\xAE"));
  EXPECT_NE(KeyOf("\xC4\xB1"), KeyOf("I"));  // the dotless i folds to itself
}

TEST(InstalledPathKey, TextThatIsNotUtf8HasNoKey) {
  std::u16string key;
  for (const char* name : {"\xFF.txt", "a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
    EXPECT_FALSE(InstalledPathKey(name, &key)) << name;
  }
}

TEST(AreDistinctPlaces, RefusesEqualKeysAndOneInsideAnother) {
  EXPECT_TRUE(AreDistinctPlaces({u"A", u"A B\\X", u"AB", u"B\\C"}));
  EXPECT_FALSE(AreDistinctPlaces({u"A", u"B", u"A"}));
  EXPECT_FALSE(AreDistinctPlaces({u"A\\B\\C", u"A"}));
  EXPECT_FALSE(AreDistinctPlaces({u"A\\B", u"A\\B\\C\\D"}));
  EXPECT_TRUE(AreDistinctPlaces({}));
}

TEST(IsSafeRelativeName, ShortAliasesAreRefusedAndLookAlikesAreNot) {
  for (const char16_t* name : {u"UPDATE~1.PUB", u"a\\RECYCL~1\\x", u"PROGRA~12", u"x~0"}) {
    EXPECT_FALSE(IsSafeRelativeName(name)) << std::string(name, name + 3);
  }
  for (const char16_t* name : {u"a~b.txt", u"~1", u"backup~", u"a.b~1c", u"y.~3"}) {
    EXPECT_TRUE(IsSafeRelativeName(name)) << std::string(name, name + 3);
  }
}

TEST(ClassifyOwnName, EveryStateFileAndItsTemporaryIsTheUpdaters) {
  const InstallationPaths paths = PathsOf(u"C:\\app\\");
  for (const std::u16string& path : {paths.localList, paths.validators, paths.timestamp, paths.status}) {
    const std::u16string name = path.substr(paths.installFolder.size());
    EXPECT_EQ(ClassifyOwnName(name), OwnName::kReserved);
    EXPECT_EQ(ClassifyOwnName(TemporaryOf(name)), OwnName::kReserved);
    EXPECT_EQ(ClassifyOwnName(FoldCase(name)), OwnName::kReserved);
  }
  EXPECT_EQ(ClassifyOwnName(paths.updateKey.substr(paths.installFolder.size())), OwnName::kUpdateKey);
  EXPECT_EQ(ClassifyOwnName(u"UpdateKey.pub.tmp"), OwnName::kReserved);
  // Download-folder names too: a list name lands there first.
  for (const char16_t* name : {u"temp", u"partial", u".packages"}) EXPECT_EQ(ClassifyOwnName(name), OwnName::kReserved);
  const std::u16string updater = platform::Utf8ToWide(UpdaterFileName());
  EXPECT_EQ(ClassifyOwnName(updater), OwnName::kUpdater);
  // The updater in another letter case is the updater where names ignore it.
  EXPECT_EQ(ClassifyOwnName(FoldCase(updater)), platform::kNamesIgnoreCase ? OwnName::kUpdater : OwnName::kNone);
}

}  // namespace
}  // namespace velmora::layout
