// Builds a release folder and its update list.
#include "publisher/build_release.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "archive/package_writer.h"
#include "manifest/release_list.h"
#include "manifest/safe_name.h"
#include "manifest/update_list.h"
#include "manifest/version.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "layout/own_files.h"
#include "platform/paths.h"
#include "platform/sha256.h"
#include "publisher/release_deltas.h"
#include "publisher/secret_files.h"

namespace velmora::publisher {
namespace {

constexpr std::uint32_t kCopyBufferSize = 256 * 1024;

std::u16string Join(const std::u16string& folder, const std::string& name) {
  return folder + u"\\" + platform::Utf8ToWide(name);
}

// Copies a file and hashes it in the same pass; the copy keeps the write time.
// `buffer` serves every file of the release.
bool CopyAndHash(const ReleaseFile& file, const std::u16string& to, std::vector<unsigned char>& buffer,
                 manifest::FileEntry* entry) {
  platform::ReadableFile in;
  if (!in.Open(file.path)) return false;
  platform::CreateDirectoryChain(to);
  platform::WritableFile out;
  if (!out.Create(to, 0, 0)) return false;
  platform::Sha256Hasher hasher;
  std::uint64_t size = 0;
  for (;;) {
    std::uint32_t read = 0;
    if (!in.Read(buffer.data(), kCopyBufferSize, &read)) return false;
    if (read == 0) break;
    if (!hasher.Update(buffer.data(), read) || !out.Write(buffer.data(), read)) return false;
    size += read;
  }
  platform::Sha256Digest digest;
  if (!hasher.Finish(&digest) || !out.SetTimes(0, 0, file.writeTime) || !out.Close()) return false;
  entry->size = size;
  entry->sha256 = platform::Sha256Hex(digest);
  return true;
}

bool WritePackageFile(const ReleaseFile& file, const std::u16string& to, manifest::FileEntry* entry) {
  platform::CreateDirectoryChain(to);
  platform::Sha256Digest digest;
  if (!archive::WritePackage(to, file.packageFiles) ||
      !platform::ReadFileSize(to, &entry->size) || !platform::HashFileSha256(to, &digest)) {
    return false;
  }
  entry->sha256 = platform::Sha256Hex(digest);
  return true;
}

bool IsMissingOrEmpty(const std::u16string& folder) {
  std::uint32_t attributes = 0;
  if (!platform::GetPathAttributes(folder, &attributes)) return true;
  platform::FolderSearch search;
  if (!search.Start(folder + u"\\*.*")) return false;
  do {
    if (search.Name() != u"." && search.Name() != u"..") return false;
  } while (search.Next());
  return true;
}

std::string LocalTimeText() {
  const platform::LocalTime now = platform::ReadLocalTime();
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d", now.year, now.month, now.day, now.hour,
                now.minute);
  return text;
}

bool SameContent(const std::string& a, const std::string& b) {
  platform::Sha256Digest first, second;
  return platform::ParseSha256Hex(a, &first) && platform::ParseSha256Hex(b, &second) && first == second;
}

// Refusals that need no file copied: the version, the entry point, the
// previous list and the release folder.
bool CheckRelease(const BuildOptions& options, const std::vector<ReleaseFile>& files, std::string* entryPoint,
                  manifest::FileTable* previous, Messages* messages) {
  const std::size_t errorsBefore = messages->errors.size();
  if (options.version.empty() || !manifest::IsUpToDate(options.version, options.version)) {
    messages->errors.push_back("'" + options.version + "' is not a version the updater can compare");
  }
  // The updater refuses a list in which two names install to one path (on
  // Windows "A.txt" and "a.txt"), or one inside another: so does the tool,
  // by the same rule.
  manifest::FileTable names;
  for (const ReleaseFile& file : files) names[file.name].name = file.name;
  if (!manifest::HasDistinctPlaces(names)) {
    messages->errors.push_back("two names of the release install to one path, or one inside another");
  }
  *entryPoint = options.entryPoint;
  for (char& c : *entryPoint) c = c == '/' ? '\\' : c;
  bool listed = false;
  for (const ReleaseFile& file : files) listed = listed || (!file.isPackage && file.name == *entryPoint);
  if (!manifest::IsSafeListName(*entryPoint) || !listed) {
    messages->errors.push_back("the entry point '" + *entryPoint + "' is not a file of the application folder");
  }
  if (!options.previous.empty()) {
    const std::u16string& path = options.previous;
    std::string previousEntryPoint, previousVersion;
    if (!ReadListFile(path, previous, &previousEntryPoint, &previousVersion)) {
      messages->errors.push_back("the previous list '" + platform::WideToUtf8(path) + "' does not read as an update list");
    }
    std::size_t unhashed = 0;
    for (const auto& [name, entry] : *previous) unhashed += entry.sha256.empty() ? 1 : 0;
    if (unhashed != 0) {
      messages->warnings.push_back(std::to_string(unhashed) + " entries of the previous list have no Sha256; "
                                   "they count as changed");
    }
    // A changed file with a version that is not newer would never be fetched.
    if (!previousVersion.empty() && manifest::IsUpToDate(options.version, previousVersion)) {
      messages->errors.push_back("the version '" + options.version + "' is not newer than the previous list's '" +
                                 previousVersion + "'");
    }
  }
  if (!IsMissingOrEmpty(options.out)) {
    messages->errors.push_back("the release folder '" + platform::WideToUtf8(options.out) + "' is not empty");
  }
  return messages->errors.size() == errorsBefore;
}

// Gives each entry its Ver from the previous list and counts the changes.
void AssignVersions(const manifest::FileTable& previous, const std::string& version, manifest::FileTable* files,
                    BuildSummary* summary) {
  for (auto& [name, entry] : *files) {
    summary->releaseBytes += entry.size;
    const auto before = previous.find(name);
    if (before != previous.end() && SameContent(before->second.sha256, entry.sha256)) {
      entry.version = before->second.version;
      ++summary->unchangedEntries;
      continue;
    }
    entry.version = version;
    summary->downloadBytes += entry.size;
    ++(before == previous.end() ? summary->newEntries : summary->changedEntries);
  }
  for (const auto& [name, entry] : previous) summary->droppedEntries += files->count(name) == 0 ? 1 : 0;
}

// What an installation of the previous release fetches of a new or changed
// entry: the smallest of the file, its zstd copy and a patch from its old version.
std::uint64_t TransferBytes(const manifest::FileTable& previous, const manifest::FileTable& files) {
  std::uint64_t total = 0;
  for (const auto& [name, entry] : files) {
    const auto before = previous.find(name);
    if (before != previous.end() && SameContent(before->second.sha256, entry.sha256)) continue;
    std::uint64_t smallest = entry.zstName.empty() ? entry.size : std::min(entry.size, entry.zstSize);
    for (const manifest::PatchEntry& patch : entry.patches) {
      if (before != previous.end() && SameContent(before->second.sha256, patch.from)) {
        smallest = std::min(smallest, patch.size);
      }
    }
    total += smallest;
  }
  return total;
}

bool WriteText(const std::u16string& path, const std::string& text) {
  platform::WritableFile file;
  return file.Create(path, 0, 0) && file.Write(text.data(), static_cast<std::uint32_t>(text.size())) && file.Close();
}

}  // namespace

bool BuildRelease(const BuildOptions& options, BuildSummary* summary, Messages* messages) {
  std::vector<ReleaseFile> files;
  const bool collected = CollectReleaseFiles(options.from, options.packages, &files, messages);
  manifest::ReleaseList list;
  manifest::FileTable previous;
  // Every refusal is reported in one go, so one run shows all there is to fix.
  const bool checked = CheckRelease(options, files, &list.entryPoint, &previous, messages);
  std::vector<EarlierRelease> earlier;
  const bool earlierRead = ReadEarlierReleases(options.deltaFrom, &earlier, messages);
  if (!RefuseSecretFiles(files, options.allowedFiles, messages) || !checked || !collected || !earlierRead) {
    return false;
  }
  // The previous release's files, when they lie beside its list, come first.
  if (!options.previous.empty()) earlier.insert(earlier.begin(), {FolderOfList(options.previous), previous});

  platform::CreateDirectoryChain(options.out + u"\\");
  std::vector<unsigned char> buffer(kCopyBufferSize);
  for (const ReleaseFile& file : files) {
    manifest::FileEntry entry;
    entry.name = file.name;
    const std::u16string to = Join(options.out, file.name);
    if (!(file.isPackage ? WritePackageFile(file, to, &entry) : CopyAndHash(file, to, buffer, &entry))) {
      messages->errors.push_back("cannot copy '" + file.name + "' into the release folder");
      return false;
    }
    list.files.emplace(file.name, std::move(entry));
  }
  *summary = BuildSummary();
  AssignVersions(previous, options.version, &list.files, summary);
  if (options.zstdLevel != 0 && !WriteCompressedFiles(options.out, earlier, options.zstdLevel, &list.files, messages)) {
    return false;
  }
  summary->transferBytes = TransferBytes(previous, list.files);
  list.version = options.version;
  list.lastUpdateTime = LocalTimeText();
  if (!WriteText(options.out + u"\\" + layout::kLocalListName, manifest::ReleaseListText(list))) {
    messages->errors.push_back("cannot write the update list into the release folder");
    return false;
  }
  return true;
}

}  // namespace velmora::publisher
