// Feeds arbitrary bytes to the update list readers, the write-back and the version comparison.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "manifest/update_list.h"
#include "manifest/update_plan.h"
#include "manifest/version.h"
#include "platform/encoding.h"

namespace {

namespace fs = std::filesystem;
using velmora::manifest::FileEntry;
using velmora::manifest::FileTable;
using velmora::manifest::UpdateListWriter;

// A folder of this process's own, removed at exit.
class FuzzFolder {
 public:
  FuzzFolder() {
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("velmora-list-fuzz-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(root_);
  }
  ~FuzzFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Path(const char* name) const { return (root_ / name).string(); }

 private:
  fs::path root_;
};

const FuzzFolder& Folder() {
  static const FuzzFolder folder;
  return folder;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// Opens a write-back, records every entry once as changed and one as new, and
// saves; a list that read well must read well again after the save.
void RoundTrip(const std::u16string& localPath, const std::u16string& remotePath, bool readWell,
               const FileTable& table) {
  UpdateListWriter writer;
  if (writer.OpenForWriteBack(localPath, remotePath) != UpdateListWriter::OpenResult::kOk) return;
  for (const auto& item : table) {
    FileEntry entry = item.second;
    entry.isNew = writer.listReplaced();
    entry.version = "9.9";
    writer.RecordAppliedFile(entry);
  }
  FileEntry added;
  added.name = "fuzz\\added.dll";
  added.version = "1";
  writer.RecordAppliedFile(added);
  if (!writer.Save() || !readWell) return;
  FileTable reread;
  std::string entryPoint;
  Check(velmora::manifest::ReadUpdateList(localPath, reread, entryPoint));
  Check(reread.count(added.name) == 1);
}

void FuzzVersions(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t split = text.find('\0');
  const std::string available = split == std::string::npos ? text.substr(0, size / 2) : text.substr(0, split);
  const std::string installed = split == std::string::npos ? text.substr(size / 2) : text.substr(split + 1);
  const bool forward = velmora::manifest::IsUpToDate(available, installed);
  const bool backward = velmora::manifest::IsUpToDate(installed, available);
  // Whatever two texts hold, one is never strictly older than the other both ways
  // round unless a compared component is unreadable, which also makes a text
  // compared with itself not up to date.
  if (!forward && !backward) {
    Check(!velmora::manifest::IsUpToDate(available, available) ||
          !velmora::manifest::IsUpToDate(installed, installed));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzVersions(data, size);

  const std::u16string localPath = velmora::platform::Utf8ToWide(Folder().Path("UpdateList.xml"));
  const std::u16string remotePath = velmora::platform::Utf8ToWide(Folder().Path("remote.xml"));
  WriteFile(Folder().Path("remote.xml"), data, size);
  std::error_code ignored;
  fs::remove(Folder().Path("UpdateList.xml"), ignored);

  FileTable table;
  std::string entryPoint;
  const bool read = velmora::manifest::ReadUpdateList(remotePath, table, entryPoint);
  Check(read != table.empty());
  velmora::manifest::ReadApplicationVersion(remotePath);
  velmora::manifest::ShouldRunUpdate(localPath, remotePath);
  velmora::manifest::BuildUpdatePlan(table, table);

  // Without a local list the bytes are the downloaded list; with one, the local.
  RoundTrip(localPath, remotePath, read, table);
  WriteFile(Folder().Path("UpdateList.xml"), data, size);
  RoundTrip(localPath, remotePath, read, table);
  return 0;
}
