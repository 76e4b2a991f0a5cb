// Writes zstd copies and patches beside a release's files and records them on the list entries.
#include "publisher/release_deltas.h"

#include <set>

#include "archive/zstd_codec.h"
#include "manifest/safe_name.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "layout/own_files.h"
#include "platform/sha256.h"

namespace velmora::publisher {
namespace {

constexpr char kZstEnding[] = ".zst";
constexpr char kPatchEnding[] = ".zpatch";
constexpr std::size_t kPatchIdDigits = 16;

std::u16string InFolder(const std::u16string& folder, const std::string& name) {
  return folder + u"\\" + platform::Utf8ToWide(name);
}

bool Describe(const std::u16string& path, std::uint64_t* size, std::string* sha256) {
  platform::Sha256Digest digest;
  if (!platform::ReadFileSize(path, size) || !platform::HashFileSha256(path, &digest)) return false;
  *sha256 = platform::Sha256Hex(digest);
  return true;
}

// The hash in the one spelling Sha256Hex gives; empty when it is none.
std::string Normalized(const std::string& sha256) {
  platform::Sha256Digest digest;
  return platform::ParseSha256Hex(sha256, &digest) ? platform::Sha256Hex(digest) : std::string();
}

// The names of the release folder, folded as a case-insensitive file system
// compares them, so that no written file replaces a release file or another.
class FolderNames {
 public:
  explicit FolderNames(const manifest::FileTable& files) {
    for (const auto& [name, entry] : files) taken_.insert(FoldCase(name));
  }
  bool Claim(const std::string& name, const std::string& forName, Messages* messages) {
    if (manifest::IsSafeListName(name) && taken_.insert(FoldCase(name)).second) return true;
    messages->warnings.push_back("no '" + name + "' for '" + forName + "': the name is taken or refused");
    return false;
  }

 private:
  std::set<std::string> taken_;
};

// Writes the file at `path` with `write`, then records it through `keep` when
// it is smaller than `limit`; otherwise removes it again.
template <typename Write, typename Keep>
bool WriteIfSmaller(const std::u16string& path, const std::string& name, std::uint64_t limit, Write write, Keep keep,
                    Messages* messages) {
  std::uint64_t size = 0;
  std::string sha256;
  if (!write() || !Describe(path, &size, &sha256)) {
    messages->errors.push_back("cannot write '" + name + "' into the release folder");
    return false;
  }
  if (size < limit) {
    keep(size, sha256);
  } else if (!platform::RemoveFile(path)) {
    messages->errors.push_back("cannot remove '" + name + "', which saves nothing");
    return false;
  }
  return true;
}

// Patches from each distinct earlier version of one plain file.
bool WritePatches(const std::u16string& out, const std::vector<EarlierRelease>& earlier, int level,
                  const std::string& name, manifest::FileEntry* entry, FolderNames* names, Messages* messages) {
  std::set<std::string> done{Normalized(entry->sha256)};
  const std::u16string path = InFolder(out, name);
  for (const EarlierRelease& release : earlier) {
    const auto old = release.files.find(name);
    if (old == release.files.end()) continue;
    const std::string from = Normalized(old->second.sha256);
    if (from.empty() || !done.insert(from).second) continue;
    const std::u16string oldPath = InFolder(release.folder, name);
    std::uint64_t oldSize = 0;
    std::string actual;
    // An earlier list without its files beside it gives no base.
    if (!Describe(oldPath, &oldSize, &actual)) continue;
    if (actual != from) {
      messages->warnings.push_back("'" + platform::WideToUtf8(oldPath) + "' does not match its list; no patch from it");
      continue;
    }
    if (oldSize + entry->size > archive::kMaxPatchInput) {
      messages->warnings.push_back("'" + name + "' and its earlier version are too large together to patch");
      continue;
    }
    const std::string patchName = name + "." + from.substr(0, kPatchIdDigits) + kPatchEnding;
    if (!names->Claim(patchName, name, messages)) continue;
    const std::u16string patchPath = InFolder(out, patchName);
    const std::uint64_t fetched = entry->zstName.empty() ? entry->size : entry->zstSize;
    if (!WriteIfSmaller(
            patchPath, patchName, fetched, [&] { return archive::MakePatch(oldPath, path, patchPath, level); },
            [&](std::uint64_t size, const std::string& sha256) {
              entry->patches.push_back({from, patchName, size, sha256});
            },
            messages)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::u16string FolderOfList(const std::u16string& listPath) {
  const std::size_t end = listPath.find_last_of(u"\\/");
  return end == std::u16string::npos ? u"." : listPath.substr(0, end);
}

bool ReadEarlierReleases(const std::vector<std::u16string>& folders, std::vector<EarlierRelease>* releases,
                         Messages* messages) {
  bool good = true;
  for (const std::u16string& folder : folders) {
    EarlierRelease release{folder, {}};
    std::string entryPoint;
    if (!ReadListFile(folder + u"\\" + layout::kLocalListName, &release.files, &entryPoint)) {
      messages->errors.push_back("'" + platform::WideToUtf8(folder) + "' holds no readable update list");
      good = false;
      continue;
    }
    releases->push_back(std::move(release));
  }
  return good;
}

bool WriteCompressedFiles(const std::u16string& out, const std::vector<EarlierRelease>& earlier, int level,
                          manifest::FileTable* files, Messages* messages) {
  FolderNames names(*files);
  for (auto& [name, entry] : *files) {
    const std::string zstName = name + kZstEnding;
    if (names.Claim(zstName, name, messages)) {
      const std::u16string path = InFolder(out, name), zstPath = InFolder(out, zstName);
      manifest::FileEntry* copy = &entry;
      if (!WriteIfSmaller(
              zstPath, zstName, entry.size, [&] { return archive::CompressFile(path, zstPath, level); },
              [&](std::uint64_t size, const std::string& sha256) {
                copy->zstName = zstName;
                copy->zstSize = size;
                copy->zstSha256 = sha256;
              },
              messages)) {
        return false;
      }
    }
    if (!WritePatches(out, earlier, level, name, &entry, &names, messages)) {
      return false;
    }
  }
  return true;
}

}  // namespace velmora::publisher
