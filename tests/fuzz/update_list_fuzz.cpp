// Feeds arbitrary bytes to the update list readers, the write-back and the version comparison.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/update_list.h"
#include "manifest/update_plan.h"
#include "manifest/version.h"

namespace {

using velmora::manifest::FileEntry;
using velmora::manifest::FileTable;
using velmora::manifest::ListDocument;
using velmora::manifest::ListRead;
using velmora::manifest::UpdateListWriter;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Opens a write-back on the bytes as the local list (or, without one, as
// the remote list), records every entry once as changed and one as new;
// a list that read well must read well again from the text.
void RoundTrip(const std::string& bytes, bool asLocal, bool readWell, const FileTable& table) {
  ListDocument local, remote;
  if (!remote.Parse(bytes) || !local.Parse(bytes)) return;
  UpdateListWriter writer;
  if (writer.Open(asLocal ? &local : nullptr, &remote) != UpdateListWriter::OpenResult::kOk) return;
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
  writer.RecordApplication("9.9", "fuzz.exe");
  if (!readWell) return;
  ListDocument saved;
  Check(saved.Parse(writer.Text()));
  FileTable reread;
  std::string entryPoint;
  Check(velmora::manifest::ReadUpdateList(saved, &reread, &entryPoint) == ListRead::kOk);
  Check(reread.count(added.name) == 1);
  Check(saved.ApplicationVersion() == "9.9");
}

void FuzzVersions(const std::string& text) {
  const std::size_t split = text.find('\0');
  const std::size_t size = text.size();
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
  velmora::manifest::ShouldRunUpdate(installed, available);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  FuzzVersions(bytes);

  ListDocument document;
  FileTable table;
  std::string entryPoint;
  bool read = false;
  if (document.Parse(bytes)) {
    read = velmora::manifest::ReadUpdateList(document, &table, &entryPoint) == ListRead::kOk;
    document.ApplicationVersion();
    FileTable installed;
    velmora::manifest::ReadInstalledList(document, &installed);
  }
  Check(read != table.empty());
  velmora::manifest::BuildUpdatePlan(table, table);

  RoundTrip(bytes, false, read, table);
  RoundTrip(bytes, true, read, table);
  return 0;
}
