// The update list: its file entries, its readers and the local list's write-back, all over documents held in memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::manifest {

// A patch that turns one earlier version of a file into this one: `from` is
// the Sha256 of the file it applies to, `name`, `size` and `sha256` those of
// the patch itself.
struct PatchEntry {
  std::string from;
  std::string name;
  std::uint64_t size = 0;
  std::string sha256;
};

// One file of an update list. `name` and `version` are attributes 2 and 1 of
// its element, byte for byte as the XML library hands them over; `size` is
// attribute 3 (`hasSize` false and 0 when it is absent). `sha256` is the
// attribute named Sha256 (64 hex digits, any case; empty when absent).
// `isNew` is true unless the local list already names the file. A compressed
// form (`zstName`, empty for none) and patches from earlier versions are
// announced by attributes and children that older updaters pass over.
struct FileEntry {
  std::string name;
  std::string version;
  bool isNew = true;
  std::uint64_t size = 0;
  bool hasSize = false;
  std::string sha256;
  std::string zstName;
  std::uint64_t zstSize = 0;
  std::string zstSha256;
  std::vector<PatchEntry> patches;
};

// File name to entry. std::string compares as unsigned bytes, shorter first on
// a common prefix, so iteration follows the byte-wise order the run relies on.
using FileTable = std::map<std::string, FileEntry>;

// One parsed list document. A run parses each list's bytes once, into one
// document that serves both the reading and the write-back.
class ListDocument {
 public:
  ListDocument();
  ~ListDocument();
  ListDocument(const ListDocument&) = delete;
  ListDocument& operator=(const ListDocument&) = delete;

  // Parses exactly `bytes` (UTF-8, a byte-order mark allowed). False when
  // they are not one whole XML document: cut short, not XML at all (a
  // compressed body, say), or nested deeper than the library allows.
  bool Parse(const std::string& bytes);

  // The text of Velmorar/Application/Version, blanks and line breaks kept.
  // Empty when an element is missing or has no leading text.
  std::string ApplicationVersion() const;

  // The text of Velmorar/Application/EntryPoint, likewise; not checked.
  std::string ApplicationEntryPoint() const;

  struct State;
  State& state() const { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

// How strictly reading a remote list went.
enum class ListRead {
  kOk,
  kNoStructure,  // Velmorar, Updater or Files is missing
  kNoEntries,    // Files holds no entry
  kBadEntry,     // an entry has fewer than two attributes, an unsafe name, a size or hash that does not read
  kNameClash,    // two names install to one path, or one inside another
};

// Reads the entries of a remote list into `table` and the text of
// Application/EntryPoint into `entryPoint` (both emptied first). Every entry
// must be usable, and no two different names may install to one path or one
// inside the other (a file inside a package's folder, a file below a file);
// two entries with exactly the same name keep the first. An unsafe
// EntryPoint is returned as empty text. On any failure the table is empty.
ListRead ReadUpdateList(const ListDocument& document, FileTable* table, std::string* entryPoint);

// True when no two names of `table` install to one path, and none inside
// another's (a file inside a package's folder, a file below a file): the
// rule a remote list is read by, which the publisher's tool applies too.
bool HasDistinctPlaces(const FileTable& table);

// Reads the installed (local) list: an entry the run cannot use is passed
// over on its own, so that name counts as not installed and every other
// entry keeps its version. False only when Velmorar, Updater or Files is
// missing, or no entry is usable.
bool ReadInstalledList(const ListDocument& document, FileTable* table);

// The name attribute (the second) of every entry as written, safe or not, in
// document order; entries are found as ReadUpdateList finds them.
std::vector<std::string> ReadListNames(const ListDocument& document);

// The installed list's write-back: the run records what it applied into one
// document and saves its text. Nothing on disk changes here.
class UpdateListWriter {
 public:
  // The driver logs one fixed message for each failure.
  enum class OpenResult { kOk, kNoRoot, kNoFiles };

  // Starts from `local`, the installed list's document, or, when there is
  // none (null), from `remote` with its Files element emptied: its header
  // is the new list's. The document must outlive the writer.
  OpenResult Open(ListDocument* local, ListDocument* remote);

  // True when the open found no local list and started from the remote one.
  bool listReplaced() const { return listReplaced_; }

  // Records an applied file. The first element whose attribute 2 (or Name)
  // is exactly `entry.name` gets its Ver set, or is replaced by a clean File
  // element when it cannot be read as an entry; without one, a new entry
  // becomes a File element with Ver and Name at the end of Files.
  void RecordAppliedFile(const FileEntry& entry);

  // Records the application's version and entry point, so that the list
  // says what is installed once the run completes.
  void RecordApplication(const std::string& version, const std::string& entryPoint);

  // The document's text, indented; the byte-order mark only when the parsed
  // bytes had one. Empty when the writer was never opened.
  std::string Text() const;

 private:
  ListDocument* document_ = nullptr;
  bool listReplaced_ = false;
};

}  // namespace velmora::manifest
