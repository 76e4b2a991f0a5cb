// The update list: its file entries, its two readers and the local list's write-back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::manifest {

// One file of an update list. `name` and `version` are attributes 2 and 1 of
// its element, byte for byte as the XML library hands them over; `size` is
// attribute 3 (0: the size is not checked). `sha256` is the attribute named
// Sha256 (64 hex digits, any case; empty when absent). `isNew` is true unless
// the local list already names the file.
struct FilePatch {
  std::string from;  // Sha256 of the installed version the patch applies to
  std::string name;  // the patch file in the release folder
  std::uint64_t size = 0;
  std::string sha256;
};

struct FileEntry {
  std::string name;
  std::string version;
  bool isNew = true;
  std::uint64_t size = 0;
  std::string sha256;
  // The publisher's zstd copy beside the file (empty name: none) and its
  // zstd patches from earlier versions; ReleaseListText writes them as the
  // attributes Zst, ZstSize, ZstSha256 after Sha256 and as child Patch
  // elements (From, Name, Size, Sha256).
  std::string zst;
  std::uint64_t zstSize = 0;
  std::string zstSha256;
  std::vector<FilePatch> patches;
};

// File name to entry. std::string compares as unsigned bytes, shorter first on
// a common prefix, so iteration follows the byte-wise order the run relies on.
using FileTable = std::map<std::string, FileEntry>;

// The text of Velmorar/Application/Version in the list at `path`, blanks and line breaks kept. Empty when the file cannot
// be loaded or parsed, or an element is missing or has no leading text.
std::string ReadApplicationVersion(const std::u16string& path);

// Reads the entries of the list at `path` into `table` and the text of
// Application/EntryPoint into `entryPoint`; both are emptied first. True when
// the list has Velmorar, Updater and Files and at least one entry. False for a
// list with an unsafe name, an entry with fewer than two attributes, or a size
// attribute that is not a 32-bit number; the table is then empty. An unsafe
// EntryPoint is returned as empty text.
bool ReadUpdateList(const std::u16string& path, FileTable& table, std::string& entryPoint);

// Reads the installed (local) list like ReadUpdateList, but an entry the run
// cannot use is passed over on its own: that name counts as not installed and
// every other entry keeps its version. False only when the document, its
// Velmorar, Updater or Files element is missing, or no entry is usable.
bool ReadInstalledList(const std::u16string& path, FileTable& table);

// The local list, loaded once per run so that applied files can be recorded in
// it and written back at the end. Nothing on disk changes before Save.
class UpdateListWriter {
 public:
  // The driver logs one fixed message for each failure.
  enum class OpenResult { kOk, kCannotLoad, kNoRoot, kNoFiles };

  UpdateListWriter();
  ~UpdateListWriter();
  UpdateListWriter(const UpdateListWriter&) = delete;
  UpdateListWriter& operator=(const UpdateListWriter&) = delete;

  // Loads the local list. When none exists, loads the downloaded list instead
  // and empties its Files element in memory (listReplaced() is then true); no
  // file is moved, Save writes the result to `localListPath`.
  OpenResult OpenForWriteBack(const std::u16string& localListPath,
                              const std::u16string& downloadedListPath);

  // True when the open found no local list and started from the downloaded one.
  bool listReplaced() const;

  // Frees the loaded document; the writer is then as if never opened.
  void Close();

  // Records an applied file in memory. The first element whose attribute 2 (or
  // Name) is exactly `entry.name` gets its Ver set, or is replaced by a clean
  // File element when it cannot be read as an entry; without one, a new entry
  // becomes a File element with Ver and Name at the end of Files.
  void RecordAppliedFile(const FileEntry& entry);

  // Writes the document to a temporary file beside the local list, forces it
  // to disk and renames it over the list, so a crash leaves the old list or the
  // new one. False, with the old list untouched, when any step fails or the
  // writer was never opened.
  bool Save();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmora::manifest
