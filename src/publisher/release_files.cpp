// Collects the files of an application folder that make up a release.
#include "publisher/release_files.h"

#include <algorithm>
#include <map>
#include <utility>

#include "manifest/safe_name.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "layout/name_policy.h"
#include "layout/own_files.h"

namespace velmora::publisher {
namespace {

constexpr std::uint32_t kFolderAttribute = 0x10;
constexpr std::uint32_t kLinkAttribute = 0x400;
constexpr std::uint32_t kReadBufferSize = 64 * 1024;
constexpr char kPackageEnding[] = ".zip";

struct FoundFile {
  std::u16string name;  // relative, "\" separators
  std::u16string path;
  std::uint64_t writeTime = 0;
};

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::string Quoted(const std::u16string& name) { return "'" + platform::WideToUtf8(name) + "'"; }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// A top-level name the updater keeps for itself; its own executable may be
// shipped (the self-update), a folder of that name may not.
bool IsUpdaterOwnPath(const std::u16string& leaf, bool isFolder) {
  switch (layout::ClassifyOwnName(leaf)) {
    case layout::OwnName::kNone: return false;
    case layout::OwnName::kReserved: return true;
    case layout::OwnName::kUpdater:
    case layout::OwnName::kUpdateKey: return isFolder;
  }
  return true;
}

void ListTree(const std::u16string& root, const std::u16string& prefix, std::vector<FoundFile>* found,
              Messages* messages) {
  platform::FolderSearch search;
  if (!search.Start(root + u"\\" + prefix + u"*.*")) {
    messages->errors.push_back("cannot read the folder " + Quoted(root + u"\\" + prefix));
    return;
  }
  do {
    const std::u16string& leaf = search.Name();
    if (leaf == u"." || leaf == u"..") continue;
    const std::u16string name = prefix + leaf;
    if (prefix.empty() && IsUpdaterOwnPath(leaf, search.IsFolder())) {
      messages->warnings.push_back("left out " + Quoted(name) + ": the updater keeps this path for itself");
    } else if (search.IsLink()) {
      messages->errors.push_back(Quoted(name) + " is a link; the updater installs files only");
    } else if (search.IsFolder()) {
      ListTree(root, name + u"\\", found, messages);
    } else {
      FoundFile file{name, root + u"\\" + name, 0};
      if (!platform::ReadWriteTime(file.path, &file.writeTime)) {
        messages->errors.push_back("cannot read the time of " + Quoted(name));
      }
      found->push_back(std::move(file));
    }
  } while (search.Next());
}

// The package folders as list names ("\" separators, no trailing one); each
// must be a real folder of `root` and none may lie inside another.
std::vector<std::u16string> PackageFolders(const std::u16string& root, const std::vector<std::string>& packages,
                                           Messages* messages) {
  std::vector<std::u16string> folders;
  for (const std::string& package : packages) {
    std::u16string name = platform::AnsiToWide(package);
    std::replace(name.begin(), name.end(), u'/', u'\\');
    while (!name.empty() && IsSeparator(name.back())) name.pop_back();
    std::uint32_t attributes = 0;
    if (name.empty() || !platform::GetPathAttributes(root + u"\\" + name, &attributes) ||
        (attributes & kFolderAttribute) == 0 || (attributes & kLinkAttribute) != 0) {
      messages->errors.push_back("the package folder " + Quoted(name) + " is not a folder of the application");
      continue;
    }
    const std::string folded = FoldCase(platform::WideToUtf8(name));
    for (const std::u16string& other : folders) {
      const std::string otherFolded = FoldCase(platform::WideToUtf8(other));
      if (folded == otherFolded || StartsWith(folded, otherFolded + "\\") || StartsWith(otherFolded, folded + "\\")) {
        messages->errors.push_back("the package folders " + Quoted(other) + " and " + Quoted(name) + " overlap");
      }
    }
    folders.push_back(std::move(name));
  }
  return folders;
}

// Puts each found file into its package or makes it an entry of its own.
void AssignFiles(const std::vector<FoundFile>& found, const std::vector<std::u16string>& folders,
                 std::vector<ReleaseFile>* files, Messages* messages) {
  std::vector<ReleaseFile> packages(folders.size());
  for (std::size_t i = 0; i < folders.size(); ++i) {
    packages[i].name = platform::WideToUtf8(folders[i]) + kPackageEnding;
    packages[i].isPackage = true;
  }
  for (const FoundFile& file : found) {
    const std::string name = platform::WideToUtf8(file.name);
    if (!manifest::IsSafeListName(name)) {
      messages->errors.push_back(Quoted(file.name) + " is a name the updater refuses");
    }
    bool packed = false;
    for (std::size_t i = 0; i < folders.size() && !packed; ++i) {
      const std::string folder = platform::WideToUtf8(folders[i]) + "\\";
      if (StartsWith(name, folder)) {
        packages[i].packageFiles.push_back({file.name.substr(folders[i].size() + 1), file.path, file.writeTime});
        packed = true;
      } else if (StartsWith(FoldCase(name), FoldCase(folder))) {
        messages->errors.push_back(Quoted(file.name) + " is listed as a file, but the package " +
                                   Quoted(folders[i]) + " unpacks into the same folder");
      }
    }
    if (!packed) files->push_back({name, file.path, file.writeTime, {}, false});
  }
  for (ReleaseFile& package : packages) {
    if (package.packageFiles.empty()) {
      messages->errors.push_back("the package folder '" + PackageFolderOf(package.name) + "' holds no file");
    } else if (!manifest::IsSafeListName(package.name)) {
      messages->errors.push_back("'" + package.name + "' is a name the updater refuses");
    }
    files->push_back(std::move(package));
  }
}

// Names that a case-insensitive file system would take for one and the same.
void CheckLetterCase(const std::vector<FoundFile>& found, const std::vector<ReleaseFile>& files,
                     Messages* messages) {
  std::map<std::string, std::string> seen;
  auto check = [&](const std::string& name) {
    const auto [at, added] = seen.emplace(FoldCase(name), name);
    if (!added) messages->errors.push_back("'" + at->second + "' and '" + name + "' differ only in letter case");
  };
  for (const FoundFile& file : found) check(platform::WideToUtf8(file.name));
  for (const ReleaseFile& file : files) {
    if (file.isPackage) check(file.name);
  }
}

}  // namespace

std::string PackageFolderOf(const std::string& packageName) {
  return packageName.substr(0, packageName.size() - (sizeof(kPackageEnding) - 1));
}

bool ReadWholeFile(const std::u16string& path, std::string* content) {
  platform::ReadableFile file;
  if (!file.Open(path)) return false;
  std::string text;
  char buffer[kReadBufferSize];
  for (;;) {
    std::uint32_t read = 0;
    if (!file.Read(buffer, kReadBufferSize, &read)) return false;
    if (read == 0) break;
    text.append(buffer, read);
  }
  *content = std::move(text);
  return true;
}

bool ReadListFile(const std::u16string& path, manifest::FileTable* table, std::string* entryPoint,
                  std::string* version) {
  std::string bytes;
  manifest::ListDocument document;
  if (!ReadWholeFile(path, &bytes) || !document.Parse(bytes) ||
      manifest::ReadUpdateList(document, table, entryPoint) != manifest::ListRead::kOk) {
    return false;
  }
  if (version != nullptr) *version = document.ApplicationVersion();
  return true;
}

std::string FoldCase(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

bool CollectReleaseFiles(const std::u16string& folder, const std::vector<std::string>& packages,
                         std::vector<ReleaseFile>* files, Messages* messages) {
  std::u16string root = folder;
  while (root.size() > 1 && IsSeparator(root.back())) root.pop_back();
  const std::size_t errorsBefore = messages->errors.size();
  std::vector<FoundFile> found;
  ListTree(root, u"", &found, messages);
  const std::vector<std::u16string> folders = PackageFolders(root, packages, messages);
  std::vector<ReleaseFile> collected;
  AssignFiles(found, folders, &collected, messages);
  CheckLetterCase(found, collected, messages);
  for (const ReleaseFile& file : collected) {
    for (const archive::PackageSource& source : file.packageFiles) {
      if (std::any_of(source.entryName.begin(), source.entryName.end(), [](char16_t c) { return c > 0x7F; })) {
        messages->warnings.push_back("'" + file.name + "' holds " + Quoted(source.entryName) +
                                     ": a client reads package names in its own code page");
      }
    }
  }
  std::sort(collected.begin(), collected.end(),
            [](const ReleaseFile& a, const ReleaseFile& b) { return a.name < b.name; });
  *files = std::move(collected);
  return messages->errors.size() == errorsBefore;
}

}  // namespace velmora::publisher
