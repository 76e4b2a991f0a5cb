// Tests for the update list readers.
#include "manifest/update_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/list_text.h"

namespace velmora::manifest {
namespace {

using testing::ListWithFiles;

class ReadUpdateListTest : public ::testing::Test {
 protected:
  // Reads a list whose Files element holds `files`.
  bool Read(const std::string& files) { return ReadDocument(ListWithFiles(files)); }
  bool ReadDocument(const std::string& text) { return Reading(text) == ListRead::kOk; }
  ListRead Reading(const std::string& text) {
    ListDocument document;
    if (!document.Parse(text)) {
      table_.clear();
      return ListRead::kNoStructure;
    }
    return ReadUpdateList(document, &table_, &entryPoint_);
  }

  FileTable table_;
  std::string entryPoint_;
};

TEST_F(ReadUpdateListTest, ReadsEntriesWithVersionNameAndSize) {
  ASSERT_TRUE(Read("<File Ver=\"2.1.0.7\" Name=\"Velmora.exe\" Size=\"4096\"/>"
                   "<File Ver=\"4.0.2\" Name=\"lang\\zh.dll\"/>"));
  EXPECT_EQ(entryPoint_, "TarvikService.exe");
  ASSERT_EQ(table_.size(), 2u);
  const FileEntry& exe = table_.at("Velmora.exe");
  EXPECT_EQ(exe.name, "Velmora.exe");
  EXPECT_EQ(exe.version, "2.1.0.7");
  EXPECT_EQ(exe.size, 4096u);
  EXPECT_TRUE(exe.hasSize);
  EXPECT_TRUE(exe.isNew);
  EXPECT_EQ(table_.at("lang\\zh.dll").size, 0u);
  EXPECT_FALSE(table_.at("lang\\zh.dll").hasSize);
}

TEST_F(ReadUpdateListTest, AttributesAreReadByPositionNotByName) {
  ASSERT_TRUE(Read("<File Name=\"a.dll\" Ver=\"1.0\"/><File X=\"3.0\" Y=\"b.dll\" Z=\"12\"/>"));
  ASSERT_EQ(table_.count("1.0"), 1u);
  EXPECT_EQ(table_.at("1.0").version, "a.dll");
  EXPECT_EQ(table_.at("b.dll").version, "3.0");
  EXPECT_EQ(table_.at("b.dll").size, 12u);
}

TEST_F(ReadUpdateListTest, SiblingsAfterTheFirstFileAreEntriesAndThoseBeforeItAreNot) {
  ASSERT_TRUE(Read("<Other Ver=\"1\" Name=\"before.dll\"/><!-- c -->text"
                   "<File Ver=\"1\" Name=\"first.dll\"/><Package Ver=\"2\" Name=\"after.zip\"/>"));
  EXPECT_EQ(table_.count("before.dll"), 0u);
  EXPECT_EQ(table_.count("first.dll"), 1u);
  EXPECT_EQ(table_.count("after.zip"), 1u);
}

TEST_F(ReadUpdateListTest, FilesWithoutEntriesFails) {
  EXPECT_FALSE(Read("<!-- nothing to see -->"));
  EXPECT_FALSE(Read(""));
  EXPECT_FALSE(Read("<Other Ver=\"1\" Name=\"a.dll\"/>"));
}

TEST_F(ReadUpdateListTest, FirstEntryOfADuplicateNameWins) {
  ASSERT_TRUE(Read("<File Ver=\"1\" Name=\"a.dll\" S=\"5\"/><File Ver=\"2\" Name=\"a.dll\" S=\"6\"/>"));
  ASSERT_EQ(table_.size(), 1u);
  EXPECT_EQ(table_.at("a.dll").version, "1");
  EXPECT_EQ(table_.at("a.dll").size, 5u);
}

TEST_F(ReadUpdateListTest, NamesAreComparedAsExactBytesInUnsignedOrder) {
  ASSERT_TRUE(Read("<File Ver=\"1\" Name=\"b.dll\"/><File Ver=\"2\" Name=\"C.dll\"/>"
                   "<File Ver=\"3\" Name=\"&#233;.dll\"/><File Ver=\"4\" Name=\"a\"/>"
                   "<File Ver=\"5\" Name=\"ab\"/>"));
  std::vector<std::string> keys;
  for (const auto& item : table_) keys.push_back(item.first);
  // "\xC3\xA9" (the UTF-8 of the character reference) sorts after every ASCII name.
  const std::vector<std::string> expected{"C.dll", "a", "ab", "b.dll", "\xC3\xA9.dll"};
  EXPECT_EQ(keys, expected);
}

TEST_F(ReadUpdateListTest, SizeIsReadAsAnUnsignedDecimalPrefix) {
  ASSERT_TRUE(Read("<File V=\"1\" N=\"a\" S=\"512x\"/><File V=\"1\" N=\"b\" S=\"  +7\"/>"
                   "<File V=\"1\" N=\"c\" S=\"4294967296\"/><File V=\"1\" N=\"d\" S=\"18446744073709551615\"/>"
                   "<File V=\"1\" N=\"e\" S=\"0\"/><File V=\"1\" N=\"f\" S=\"1\" Extra=\"zz\"/>"));
  EXPECT_EQ(table_.at("a").size, 512u);
  EXPECT_EQ(table_.at("b").size, 7u);
  EXPECT_EQ(table_.at("c").size, 4294967296u);
  EXPECT_EQ(table_.at("d").size, UINT64_MAX);
  EXPECT_EQ(table_.at("e").size, 0u);
  EXPECT_EQ(table_.at("f").size, 1u);
}

TEST_F(ReadUpdateListTest, MalformedEntryFailsTheWholeList) {
  const std::string bad[] = {
      "<File Ver=\"1\"/>",
      "<File/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"x12\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\" - 3\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"-1\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"18446744073709551616\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"1\" Sha256=\"abc\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"1\" Sha256=\"" + std::string(63, 'a') + "g\"/>",
      "<File Ver=\"1\" Name=\"a\" Size=\"99999999999999999999999\"/>",
  };
  for (const std::string& entry : bad) {
    table_["stale"] = FileEntry{};
    EXPECT_FALSE(Read(std::string("<File Ver=\"1\" Name=\"good.dll\"/>") + entry)) << entry;
    EXPECT_TRUE(table_.empty()) << entry;
  }
}

TEST_F(ReadUpdateListTest, UnsafeNameFailsTheWholeList) {
  const char* const unsafe[] = {
      "",         "\\evil.dll",     "/etc/passwd",    "C:\\evil.dll", "a.dll:stream",
      "..",       "..\\evil.dll",   "../evil.dll",    "a\\..\\..\\b", "a/../b",
      "a\\..",    "lang\\\\..\\x",  "c:evil.dll",     "\\\\server\\share\\x",
      // Windows would store these under another name, or open a device.
      ".",        "a\\.\\b",       ". .\\x",        "a.",           "dir \\b",
      "NUL",      "con.txt",        "sub\\Com7.dll",  "lpt1 .log",    "a?b", "a|b",
      // Packages that would unpack over the installation or the updater's own paths.
      ".zip",     "..zip",          " .zip",          "sub\\.zip",   "temp.zip",
      "Log.zip",  "UpdateList.xml.zip",
      // The updater's own paths.
      "temp\\x.dll", "TEMP",       "log\\today.log", "Error\\a.dmp", ".RECYCLER\\a",
      "UpdateList.xml", "updatelist.xml", "temp\\\\x", ".staging\\a", "UpdateList.xml.tmp",
      "UpdateList.validators.tmp", "UpdateList.timestamp.TMP", "UpdateStatus.xml", "Velmora.lock", "UpdateCA.pem",
      "UpdateKey.pub\\x", "a\\",
      // Short (8.3) names Windows may give a long one.
      "UPDATE~1.PUB", "RECYCL~1\\x", "progra~12",
  };
  for (const char* name : unsafe) {
    const std::string files = std::string("<File Ver=\"1\" Name=\"ok.dll\"/><File Ver=\"1\" Name=\"") +
                              name + "\"/>";
    EXPECT_FALSE(Read(files)) << name;
    EXPECT_TRUE(table_.empty()) << name;
  }
}

TEST_F(ReadUpdateListTest, NamesThatOnlyLookUnusualStayValid) {
  ASSERT_TRUE(Read("<File Ver=\"1\" Name=\"lang\\zh.dll\"/><File Ver=\"1\" Name=\"a\\\\b.txt\"/>"
                   "<File Ver=\"1\" Name=\"..x\"/><File Ver=\"1\" Name=\"x..y\\.y\"/>"
                   "<File Ver=\"1\" Name=\"console.dll\"/>"));
  EXPECT_EQ(table_.size(), 5u);
  EXPECT_EQ(table_.count("a\\\\b.txt"), 1u);
}

TEST_F(ReadUpdateListTest, UnsafeEntryPointIsReturnedEmpty) {
  for (const char* entry : {"..\\evil.exe", "C:\\Windows\\evil.exe", "/bin/sh", ""}) {
    std::string document = ListWithFiles("<File Ver=\"1\" Name=\"a.dll\"/>");
    const std::string safe = "TarvikService.exe";
    document.replace(document.find(safe), safe.size(), entry);
    EXPECT_TRUE(ReadDocument(document)) << entry;
    EXPECT_EQ(entryPoint_, "") << entry;
  }
}

TEST_F(ReadUpdateListTest, MissingApplicationIsNoErrorButMissingUpdaterOrFilesIs) {
  const std::string entries = "<Files><File Ver=\"1\" Name=\"a\"/></Files>";
  EXPECT_TRUE(ReadDocument("<Velmorar><Updater/>" + entries + "</Velmorar>"));
  EXPECT_EQ(entryPoint_, "");
  EXPECT_TRUE(ReadDocument("<Velmorar><Updater/><Application/>" + entries + "</Velmorar>"));
  EXPECT_FALSE(ReadDocument("<Velmorar>" + entries + "</Velmorar>"));
  EXPECT_FALSE(ReadDocument("<Velmorar><Updater/><Application><EntryPoint>a.exe</EntryPoint>"
                            "</Application></Velmorar>"));
  EXPECT_FALSE(ReadDocument("<velmorar><Updater/>" + entries + "</velmorar>"));
  EXPECT_FALSE(ReadDocument("<Velmorar><Updater/>" + entries));  // not well formed
  EXPECT_FALSE(ReadDocument(""));
}

TEST_F(ReadUpdateListTest, NamesThatInstallToOnePathRefuseTheWholeList) {
  const char* const clashes[] = {
      "<File Ver=\"1\" Name=\"a/x\"/><File Ver=\"1\" Name=\"a\\x\"/>",
      "<File Ver=\"1\" Name=\"a\\x\"/><File Ver=\"1\" Name=\"a\\\\x\"/>",
      "<File Ver=\"1\" Name=\"A.txt\"/><File Ver=\"1\" Name=\"a.txt\"/>",
      "<File Ver=\"1\" Name=\"&#xC9;t&#xE9;.txt\"/><File Ver=\"1\" Name=\"&#xE9;T&#xC9;.txt\"/>",
      "<File Ver=\"1\" Name=\"a/x\"/><File Ver=\"1\" Name=\"a.zip\"/>",
      "<File Ver=\"1\" Name=\"a\"/><File Ver=\"1\" Name=\"a/b\"/>",
      "<File Ver=\"1\" Name=\"skin\"/><File Ver=\"1\" Name=\"Skin.zip\"/>",
      "<File Ver=\"1\" Name=\"\xFF.txt\"/>",
  };
  for (const char* files : clashes) {
    EXPECT_NE(Reading(ListWithFiles(files)), ListRead::kOk) << files;
    EXPECT_TRUE(table_.empty()) << files;
  }
  EXPECT_EQ(Reading(ListWithFiles(clashes[0])), ListRead::kNameClash);
  // Neighbours that only share a beginning are places of their own.
  EXPECT_TRUE(Read("<File Ver=\"1\" Name=\"a\"/><File Ver=\"1\" Name=\"a b/x\"/><File Ver=\"1\" Name=\"ab.zip\"/>"));
}

TEST_F(ReadUpdateListTest, CompressedFormsAndPatchesAreReadAndBrokenOnesPassedOver) {
  const std::string hash(64, 'a'), other(64, 'b');
  ASSERT_TRUE(Read("<File Ver=\"2\" Name=\"a.dll\" Size=\"9\" Sha256=\"" + hash + "\" Zst=\"a.dll.zst\" ZstSize=\"4\" ZstSha256=\"" +
                   other + "\"><Patch From=\"" + other + "\" Name=\"a.dll.p\" Size=\"3\" Sha256=\"" + hash +
                   "\"/><Patch From=\"x\" Name=\"b.p\" Size=\"3\" Sha256=\"" + hash + "\"/></File>"
                   "<File Ver=\"2\" Name=\"b.dll\" Size=\"1\" Zst=\"..\\b.zst\" ZstSize=\"4\" ZstSha256=\"" + other + "\"/>"));
  const FileEntry& a = table_.at("a.dll");
  EXPECT_EQ(a.zstName, "a.dll.zst");
  EXPECT_EQ(a.zstSize, 4u);
  ASSERT_EQ(a.patches.size(), 1u);
  EXPECT_EQ(a.patches[0].name, "a.dll.p");
  EXPECT_EQ(a.patches[0].from, other);
  EXPECT_EQ(table_.at("b.dll").zstName, "");
}

class ReadApplicationVersionTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& text) {
    ListDocument document;
    return document.Parse(text) ? document.ApplicationVersion() : "";
  }
};

TEST_F(ReadApplicationVersionTest, KeepsTheTextUnchanged) {
  EXPECT_EQ(Read(ListWithFiles("", "2.1.0.7")), "2.1.0.7");
  EXPECT_EQ(Read(ListWithFiles("", " 1.2 ")), " 1.2 ");
  EXPECT_EQ(Read(ListWithFiles("", "\n  1.2\n")), "\n  1.2\n");
  EXPECT_EQ(Read(ListWithFiles("", "1&amp;2&#x41;")), "1&2A");
  EXPECT_EQ(Read(ListWithFiles("", "<![CDATA[3.0]]>")), "3.0");
}

TEST_F(ReadApplicationVersionTest, TextCountsOnlyWhenItIsTheFirstChild) {
  EXPECT_EQ(Read(ListWithFiles("", "<!-- c -->1.0")), "");
  EXPECT_EQ(Read(ListWithFiles("", "<b>1.0</b>")), "");
  EXPECT_EQ(Read(ListWithFiles("", "1.0<b/>2.0")), "1.0");
  EXPECT_EQ(Read(ListWithFiles("", "")), "");
}

TEST_F(ReadApplicationVersionTest, MissingElementsGiveEmptyText) {
  EXPECT_EQ(Read("<Velmorar><Application><Version>1</Version></Application></Velmorar>"), "1");
  EXPECT_EQ(Read("<Velmorar><Application/></Velmorar>"), "");
  EXPECT_EQ(Read("<Velmorar><Version>1</Version></Velmorar>"), "");
  EXPECT_EQ(Read("<Other><Application><Version>1</Version></Application></Other>"), "");
  EXPECT_EQ(Read("<Velmorar><Application><Version>1</Version>"), "");
}

TEST_F(ReadApplicationVersionTest, ByteOrderMarkIsSkipped) {
  EXPECT_EQ(Read("\xEF\xBB\xBF" + ListWithFiles("", "3.4")), "3.4");
}

}  // namespace
}  // namespace velmora::manifest
