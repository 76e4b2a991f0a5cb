// Tests for the write-back of the local update list.
#include "manifest/update_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "manifest/list_text.h"

namespace velmora::manifest {
namespace {

using testing::ListWithFiles;
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
  // Opens the writer on `local` (none: no local list) and `remote`.
  OpenResult Open(const std::optional<std::string>& local, const std::string& remote = ListWithFiles("")) {
    local_ = std::make_unique<ListDocument>();
    remote_ = std::make_unique<ListDocument>();
    EXPECT_TRUE(remote_->Parse(remote));
    if (local) {
      EXPECT_TRUE(local_->Parse(*local));
    }
    return writer_.Open(local ? local_.get() : nullptr, remote_.get());
  }
  // The saved text read back as the next run reads it.
  FileTable Reread(std::string* entryPoint = nullptr) {
    ListDocument document;
    EXPECT_TRUE(document.Parse(writer_.Text()));
    FileTable table;
    std::string point;
    EXPECT_EQ(ReadUpdateList(document, &table, &point), ListRead::kOk);
    if (entryPoint != nullptr) *entryPoint = point;
    return table;
  }

  std::unique_ptr<ListDocument> local_;
  std::unique_ptr<ListDocument> remote_;
  UpdateListWriter writer_;
};

TEST_F(UpdateListWriterTest, ReportsWhichPartOfTheLocalListIsMissing) {
  EXPECT_EQ(Open("<Other><Files/></Other>"), OpenResult::kNoRoot);
  EXPECT_EQ(Open("<Velmorar><Updater/></Velmorar>"), OpenResult::kNoFiles);
  EXPECT_EQ(writer_.Text(), "");
  EXPECT_EQ(Open("<Velmorar><Files/></Velmorar>"), OpenResult::kOk);
  EXPECT_FALSE(writer_.listReplaced());
}

TEST_F(UpdateListWriterTest, NewEntriesAreAppendedWithVerThenNameAndNoSize) {
  ASSERT_EQ(Open(ListWithFiles("<File Ver=\"1\" Name=\"old.dll\" Size=\"9\"/>")), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("z.dll", "2.0", true));
  writer_.RecordAppliedFile(Entry("a.dll", "3.0", true));
  const std::string saved = writer_.Text();
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
  EXPECT_EQ(Reread().at("z.dll").version, "2.0");
}

TEST_F(UpdateListWriterTest, ChangedEntryGetsItsVerSetAndKeepsItsSize) {
  ASSERT_EQ(Open(ListWithFiles("<File Ver=\"1\" Name=\"a.dll\" Size=\"9\"/><File Ver=\"1\" Name=\"b.dll\"/>")),
            OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("a.dll", "1.5", false));
  const FileTable table = Reread();
  EXPECT_EQ(table.at("a.dll").version, "1.5");
  EXPECT_EQ(table.at("a.dll").size, 9u);
  EXPECT_EQ(table.at("b.dll").version, "1");
}

TEST_F(UpdateListWriterTest, ChangedEntryWithOtherAttributeNamesGetsVerAppended) {
  ASSERT_EQ(Open(ListWithFiles("<File Version=\"1\" Name=\"a.dll\" Size=\"9\"/>")), OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("a.dll", "2", false));
  EXPECT_NE(writer_.Text().find("<File Version=\"1\" Name=\"a.dll\" Size=\"9\" Ver=\"2\"/>"), std::string::npos)
      << writer_.Text();
  // Attribute 1 is still the version the next read takes.
  EXPECT_EQ(Reread().at("a.dll").version, "1");
}

TEST_F(UpdateListWriterTest, ChangedEntryUpdatesOnlyTheFirstElementOfItsName) {
  ASSERT_EQ(Open(ListWithFiles("<Pre Ver=\"0\" Name=\"a.dll\"/><File Ver=\"1\" Name=\"a.dll\"/>"
                               "<Item Ver=\"1\" Name=\"A.DLL\"/><File Ver=\"1\" Name=\"a.dll\"/>")),
            OpenResult::kOk);
  writer_.RecordAppliedFile(Entry("a.dll", "7", false));
  writer_.RecordAppliedFile(Entry("missing.dll", "7", false));
  const std::string saved = writer_.Text();
  EXPECT_NE(saved.find("<Pre Ver=\"0\" Name=\"a.dll\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<File Ver=\"7\" Name=\"a.dll\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<Item Ver=\"1\" Name=\"A.DLL\"/>"), std::string::npos) << saved;
  EXPECT_LT(saved.find("Ver=\"7\""), saved.find("Ver=\"1\" Name=\"a.dll\""));
  EXPECT_EQ(saved.find("missing.dll"), std::string::npos);
}

TEST_F(UpdateListWriterTest, WithoutLocalListTheRemoteHeaderTakesTheRecordedEntriesOnly) {
  ASSERT_EQ(Open(std::nullopt, ListWithFiles("<!-- c --><File Ver=\"2\" Name=\"a.dll\" Size=\"3\"/>"
                                             "<File Ver=\"2\" Name=\"b.dll\"/><File Ver=\"2\" Name=\"c.dll\"/>\n",
                                             "9.9")),
            OpenResult::kOk);
  EXPECT_TRUE(writer_.listReplaced());
  writer_.RecordAppliedFile(Entry("b.dll", "2", true));
  writer_.RecordAppliedFile(Entry("a.dll", "2", true));
  const std::string saved = writer_.Text();
  EXPECT_EQ(saved.find("<!--"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Size"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("c.dll"), std::string::npos) << saved;
  EXPECT_LT(saved.find("b.dll"), saved.find("a.dll"));
  std::string entryPoint;
  EXPECT_EQ(Reread(&entryPoint).size(), 2u);
  EXPECT_EQ(entryPoint, "TarvikService.exe");
}

TEST_F(UpdateListWriterTest, TheApplicationIsRecordedWhereverTheListHadIt) {
  ASSERT_EQ(Open(ListWithFiles("<File Ver=\"1\" Name=\"a\"/>", "1.0")), OpenResult::kOk);
  writer_.RecordApplication("2.0", "New.exe");
  ListDocument saved;
  ASSERT_TRUE(saved.Parse(writer_.Text()));
  EXPECT_EQ(saved.ApplicationVersion(), "2.0");
  std::string entryPoint;
  Reread(&entryPoint);
  EXPECT_EQ(entryPoint, "New.exe");
  // A list without Application gets one, and an empty version a text.
  ASSERT_EQ(Open("<Velmorar><Updater/><Files><File Ver=\"1\" Name=\"a\"/></Files></Velmorar>"), OpenResult::kOk);
  writer_.RecordApplication("3.0", "Host");
  ASSERT_TRUE(saved.Parse(writer_.Text()));
  EXPECT_EQ(saved.ApplicationVersion(), "3.0");
}

TEST_F(UpdateListWriterTest, ByteOrderMarkIsKeptOnlyWhenTheParsedBytesHadOne) {
  ASSERT_EQ(Open("\xEF\xBB\xBF" + ListWithFiles("<File Ver=\"1\" Name=\"a\"/>")), OpenResult::kOk);
  EXPECT_EQ(writer_.Text().rfind("\xEF\xBB\xBF<?xml", 0), 0u);
  ASSERT_EQ(Open(ListWithFiles("<File Ver=\"1\" Name=\"a\"/>")), OpenResult::kOk);
  EXPECT_EQ(writer_.Text().rfind("<?xml", 0), 0u);
}

TEST_F(UpdateListWriterTest, MalformedLocalEntryCountsAsMissingAndIsRewrittenOnce) {
  std::string text = ListWithFiles("<File Ver=\"1\" Name=\"a.dll\" Size=\"\"/><File Ver=\"1\" Name=\"b.dll\"/>");
  ListDocument document;
  ASSERT_TRUE(document.Parse(text));
  FileTable installed;
  ASSERT_TRUE(ReadInstalledList(document, &installed));
  EXPECT_EQ(installed.count("a.dll"), 0u);
  EXPECT_EQ(installed.at("b.dll").version, "1");
  // Three runs record the reinstalled file; the list keeps one element for it.
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(Open(text), OpenResult::kOk);
    writer_.RecordAppliedFile(Entry("a.dll", "2", true));
    text = writer_.Text();
  }
  EXPECT_EQ(text.find("a.dll"), text.rfind("a.dll")) << text;
  EXPECT_EQ(Reread().at("a.dll").version, "2");
}

TEST_F(UpdateListWriterTest, UnopenedWriterRecordsNothing) {
  writer_.RecordAppliedFile(Entry("a", "1", true));
  writer_.RecordApplication("1", "a");
  EXPECT_EQ(writer_.Text(), "");
  EXPECT_FALSE(writer_.listReplaced());
}

}  // namespace
}  // namespace velmora::manifest
