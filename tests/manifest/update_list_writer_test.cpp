// Tests for the write-back of the local update list.
#include "manifest/update_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "manifest/list_text.h"

namespace velmora::manifest {
namespace {

using testing::ListWithFiles;
using testing::TempFolder;
using OpenResult = UpdateListWriter::OpenResult;

FileEntry Entry(const std::string& name, const std::string& version, bool isNew) {
  FileEntry entry;
  entry.name = name;
  entry.version = version;
  entry.isNew = isNew;
  return entry;
}

class UpdateListWriterTest : public ::testing::Test {
 protected:
  std::u16string LocalPath() const { return folder_.File("UpdateList.xml"); }
  std::u16string RemotePath() const { return folder_.File("remote.xml"); }
  OpenResult Open() { return writer_.OpenForWriteBack(LocalPath(), RemotePath()); }
  FileTable ReadLocal() {
    FileTable table;
    std::string entryPoint;
    EXPECT_TRUE(ReadUpdateList(LocalPath(), table, entryPoint));
    return table;
  }

  TempFolder folder_;
  UpdateListWriter writer_;
};

TEST_F(UpdateListWriterTest, ReportsWhichPartOfTheLocalListIsMissing) {
  folder_.Write("UpdateList.xml", "<Velmorar><Files/>");
  EXPECT_EQ(Open(), OpenResult::kCannotLoad);
  folder_.Write("UpdateList.xml", "");
  EXPECT_EQ(Open(), OpenResult::kCannotLoad);
  folder_.Write("UpdateList.xml", "<Other><Files/></Other>");
  EXPECT_EQ(Open(), OpenResult::kNoRoot);
  folder_.Write("UpdateList.xml", "<Velmorar><Updater/></Velmorar>");
  EXPECT_EQ(Open(), OpenResult::kNoFiles);
  folder_.Write("UpdateList.xml", "<Velmorar><Files/></Velmorar>");
  EXPECT_EQ(Open(), OpenResult::kOk);
  EXPECT_FALSE(writer_.listReplaced());
}

TEST_F(UpdateListWriterTest, NewEntriesAreAppendedWithVerThenNameAndNoSize) {
  folder_.Write("UpdateList.xml", ListWithFiles("<File Ver=\"1\" Name=\"old.dll\" Size=\"9\"/>"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("z.dll", "2.0", true));
  writer_.RecordAppliedFile(Entry("a.dll", "3.0", true));
  ASSERT_TRUE(writer_.Save());
  const std::string saved = folder_.Read("UpdateList.xml");
  const auto old = saved.find("<File Ver=\"1\" Name=\"old.dll\" Size=\"9\"/>");
  const auto z = saved.find("<File Ver=\"2.0\" Name=\"z.dll\"/>");
  const auto a = saved.find("<File Ver=\"3.0\" Name=\"a.dll\"/>");
  ASSERT_NE(old, std::string::npos) << saved;
  ASSERT_NE(z, std::string::npos) << saved;
  ASSERT_NE(a, std::string::npos) << saved;
  EXPECT_LT(old, z);
  EXPECT_LT(z, a);  // order of recording, not of names
  // Indented output: each entry on a line of its own.
  EXPECT_NE(saved.find("\n        <File Ver=\"2.0\""), std::string::npos) << saved;
  EXPECT_EQ(ReadLocal().at("z.dll").version, "2.0");
}

TEST_F(UpdateListWriterTest, ChangedEntryGetsItsVerSetAndKeepsItsSize) {
  folder_.Write("UpdateList.xml", ListWithFiles("<File Ver=\"1\" Name=\"a.dll\" Size=\"9\"/>"
                                                "<File Ver=\"1\" Name=\"b.dll\"/>"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("a.dll", "1.5", false));
  ASSERT_TRUE(writer_.Save());
  const FileTable table = ReadLocal();
  EXPECT_EQ(table.at("a.dll").version, "1.5");
  EXPECT_EQ(table.at("a.dll").size, 9u);
  EXPECT_EQ(table.at("b.dll").version, "1");
}

TEST_F(UpdateListWriterTest, ChangedEntryWithOtherAttributeNamesGetsVerAppended) {
  folder_.Write("UpdateList.xml", ListWithFiles("<File Version=\"1\" Name=\"a.dll\" Size=\"9\"/>"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("a.dll", "2", false));
  ASSERT_TRUE(writer_.Save());
  EXPECT_NE(folder_.Read("UpdateList.xml").find("<File Version=\"1\" Name=\"a.dll\" Size=\"9\" Ver=\"2\"/>"),
            std::string::npos)
      << folder_.Read("UpdateList.xml");
  // Attribute 1 is still the version the next read takes.
  EXPECT_EQ(ReadLocal().at("a.dll").version, "1");
}

TEST_F(UpdateListWriterTest, ChangedEntryUpdatesOnlyTheFirstElementOfItsName) {
  folder_.Write("UpdateList.xml", ListWithFiles("<Pre Ver=\"0\" Name=\"a.dll\"/>"
                                                "<File Ver=\"1\" Name=\"a.dll\"/>"
                                                "<Item Ver=\"1\" Name=\"A.DLL\"/>"
                                                "<File Ver=\"1\" Name=\"a.dll\"/>"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("a.dll", "7", false));
  writer_.RecordAppliedFile(Entry("missing.dll", "7", false));
  ASSERT_TRUE(writer_.Save());
  const std::string saved = folder_.Read("UpdateList.xml");
  EXPECT_NE(saved.find("<Pre Ver=\"0\" Name=\"a.dll\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<File Ver=\"7\" Name=\"a.dll\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<Item Ver=\"1\" Name=\"A.DLL\"/>"), std::string::npos) << saved;
  EXPECT_LT(saved.find("Ver=\"7\""), saved.find("Ver=\"1\" Name=\"a.dll\""));
  EXPECT_EQ(saved.find("missing.dll"), std::string::npos);
}

TEST_F(UpdateListWriterTest, WithoutLocalListNothingIsWrittenBeforeSave) {
  const std::string remote = ListWithFiles("<File Ver=\"2\" Name=\"a.dll\" Size=\"3\"/>"
                                           "<File Ver=\"2\" Name=\"b.dll\"/>");
  folder_.Write("remote.xml", remote);
  ASSERT_EQ(Open(), OpenResult::kOk);
  EXPECT_TRUE(writer_.listReplaced());
  writer_.RecordAppliedFile(Entry("a.dll", "2", true));
  // A run that ends here leaves no local list that claims uninstalled versions.
  EXPECT_FALSE(folder_.Exists("UpdateList.xml"));
  EXPECT_EQ(folder_.Read("remote.xml"), remote);
}

TEST_F(UpdateListWriterTest, WithoutLocalListSaveWritesRemoteHeaderAndRecordedEntries) {
  folder_.Write("remote.xml",
                ListWithFiles("<!-- c --><File Ver=\"2\" Name=\"a.dll\" Size=\"3\"/>"
                              "<File Ver=\"2\" Name=\"b.dll\"/>\n",
                              "9.9"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("b.dll", "2", true));
  writer_.RecordAppliedFile(Entry("a.dll", "2", true));
  ASSERT_TRUE(writer_.Save());
  const std::string saved = folder_.Read("UpdateList.xml");
  EXPECT_EQ(saved.find("<!--"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Size"), std::string::npos) << saved;
  EXPECT_LT(saved.find("b.dll"), saved.find("a.dll"));
  EXPECT_EQ(ReadApplicationVersion(LocalPath()), "9.9");
  FileTable table;
  std::string entryPoint;
  ASSERT_TRUE(ReadUpdateList(LocalPath(), table, entryPoint));
  EXPECT_EQ(entryPoint, "TarvikService.exe");
  EXPECT_EQ(table.size(), 2u);
  EXPECT_TRUE(folder_.Exists("remote.xml"));
}

TEST_F(UpdateListWriterTest, WithoutAnyListOpenCannotLoad) {
  EXPECT_EQ(Open(), OpenResult::kCannotLoad);
  EXPECT_TRUE(writer_.listReplaced());
  EXPECT_FALSE(writer_.Save());
  EXPECT_FALSE(folder_.Exists("UpdateList.xml"));
}

TEST_F(UpdateListWriterTest, ByteOrderMarkIsKeptOnlyWhenTheLoadedFileHadOne) {
  folder_.Write("UpdateList.xml", "\xEF\xBB\xBF" + ListWithFiles("<File Ver=\"1\" Name=\"a\"/>"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  ASSERT_TRUE(writer_.Save());
  EXPECT_EQ(folder_.Read("UpdateList.xml").rfind("\xEF\xBB\xBF<?xml", 0), 0u);

  folder_.Write("UpdateList.xml", ListWithFiles("<File Ver=\"1\" Name=\"a\"/>"));
  UpdateListWriter plain;
  ASSERT_EQ(plain.OpenForWriteBack(LocalPath(), RemotePath()), OpenResult::kOk);
  ASSERT_TRUE(plain.Save());
  EXPECT_EQ(folder_.Read("UpdateList.xml").rfind("<?xml", 0), 0u);
}

TEST_F(UpdateListWriterTest, SaveLeavesNoTemporaryFileBehind) {
  folder_.Write("UpdateList.xml", ListWithFiles("<File Ver=\"1\" Name=\"a\"/>"));
  ASSERT_EQ(Open(), OpenResult::kOk);
  ASSERT_TRUE(writer_.Save());
  std::size_t count = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder_.Path())) {
    (void)item;
    ++count;
  }
  EXPECT_EQ(count, 1u);
}

TEST_F(UpdateListWriterTest, FailedSaveLeavesTheOldListUntouched) {
  const std::string original = ListWithFiles("<File Ver=\"1\" Name=\"a\"/>");
  folder_.Write("UpdateList.xml", original);
  ASSERT_EQ(Open(), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("b", "2", true));
  // A folder where the temporary file would go makes the write fail.
  std::filesystem::create_directory(folder_.Path() / "UpdateList.xml.tmp");
  EXPECT_FALSE(writer_.Save());
  EXPECT_EQ(folder_.Read("UpdateList.xml"), original);
}

TEST_F(UpdateListWriterTest, SaveKeepsThePermissionsOfTheOldList) {
  namespace fs = std::filesystem;
  folder_.Write("UpdateList.xml", ListWithFiles("<File Ver=\"1\" Name=\"a\"/>"));
  const fs::path list = folder_.Path() / "UpdateList.xml";
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(list, mode);
  ASSERT_EQ(Open(), OpenResult::kOk);
  ASSERT_TRUE(writer_.Save());
#ifndef _WIN32
  EXPECT_EQ(fs::status(list).permissions() & fs::perms::mask, mode);
#endif
}

TEST_F(UpdateListWriterTest, MalformedLocalEntryCountsAsMissingAndIsRewrittenOnce) {
  folder_.Write("UpdateList.xml", ListWithFiles("<File Ver=\"1\" Name=\"a.dll\" Size=\"\"/>"
                                                "<File Ver=\"1\" Name=\"b.dll\"/>"));
  FileTable installed;
  ASSERT_TRUE(ReadInstalledList(LocalPath(), installed));
  EXPECT_EQ(installed.count("a.dll"), 0u);
  EXPECT_EQ(installed.at("b.dll").version, "1");
  // Three runs record the reinstalled file; the list keeps one element for it.
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(Open(), OpenResult::kOk);
    writer_.RecordAppliedFile(Entry("a.dll", "2", true));
    ASSERT_TRUE(writer_.Save());
  }
  const std::string saved = folder_.Read("UpdateList.xml");
  EXPECT_EQ(saved.find("a.dll"), saved.rfind("a.dll")) << saved;
  EXPECT_EQ(ReadLocal().at("a.dll").version, "2");
}

TEST_F(UpdateListWriterTest, UnopenedWriterRecordsAndSavesNothing) {
  writer_.RecordAppliedFile(Entry("a", "1", true));
  EXPECT_FALSE(writer_.Save());
  EXPECT_FALSE(writer_.listReplaced());
  folder_.Write("UpdateList.xml", "<Velmorar/>");
  EXPECT_EQ(Open(), OpenResult::kNoFiles);
  writer_.RecordAppliedFile(Entry("a", "1", true));
  EXPECT_FALSE(writer_.Save());
  EXPECT_EQ(folder_.Read("UpdateList.xml"), "<Velmorar/>");
}

}  // namespace
}  // namespace velmora::manifest
