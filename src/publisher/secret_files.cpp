// Refuses release files that are, or are named like, minisign secret keys.
#include "publisher/secret_files.h"

#include <algorithm>

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "trust/secret_key.h"

namespace velmora::publisher {
namespace {

// A secret key file is about 250 bytes; its comment line may be long, but the
// base64 line that tells it starts well within this.
constexpr std::uint32_t kSniffSize = 4096;
constexpr char kKeyEnding[] = ".key";

std::string Backslashed(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

bool IsAllowed(const std::string& name, const std::vector<std::string>& allowed) {
  const std::string wanted = FoldCase(Backslashed(name));
  return std::any_of(allowed.begin(), allowed.end(),
                     [&](const std::string& a) { return FoldCase(Backslashed(a)) == wanted; });
}

bool EndsWithKeyEnding(const std::string& name) {
  const std::string folded = FoldCase(name);
  const std::size_t size = sizeof(kKeyEnding) - 1;
  return folded.size() >= size && folded.compare(folded.size() - size, size, kKeyEnding) == 0;
}

bool ReadStart(const std::u16string& path, std::string* start) {
  platform::ReadableFile file;
  if (!file.Open(path)) return false;
  std::string text(kSniffSize, '\0');
  std::uint32_t filled = 0;
  while (filled < kSniffSize) {
    std::uint32_t read = 0;
    if (!file.Read(&text[filled], kSniffSize - filled, &read)) return false;
    if (read == 0) break;
    filled += read;
  }
  text.resize(filled);
  *start = std::move(text);
  return true;
}

void ReportTree(const std::u16string& root, const std::u16string& relative, const std::string& prefix,
                const std::vector<std::string>& allowed, std::vector<std::string>* problems) {
  platform::FolderSearch search;
  if (!search.Start(root + u"\\" + relative + u"*.*")) {
    problems->push_back("cannot read the folder '" + prefix + platform::WideToUtf8(relative) + "'");
    return;
  }
  do {
    if (search.Name() == u"." || search.Name() == u"..") continue;
    const std::u16string path = relative + search.Name();
    if (search.IsFolder() && !search.IsLink()) {
      ReportTree(root, path + u"\\", prefix, allowed, problems);
      continue;
    }
    const std::string name = prefix + platform::WideToUtf8(path);
    if (IsAllowed(name, allowed)) continue;
    const std::string problem = DescribeSecretFile(JudgeSecretFile(root + u"\\" + path, name), name);
    if (!problem.empty()) problems->push_back(problem);
  } while (search.Next());
}

}  // namespace

SecretFile JudgeSecretFile(const std::u16string& path, const std::string& name) {
  if (EndsWithKeyEnding(name)) return SecretFile::kNamedLikeKey;
  std::string start;
  if (!ReadStart(path, &start)) return SecretFile::kUnreadable;
  return trust::LooksLikeSecretKey(start) ? SecretFile::kHoldsKey : SecretFile::kNone;
}

std::string DescribeSecretFile(SecretFile judgement, const std::string& name) {
  const std::string quoted = "'" + name + "'";
  switch (judgement) {
    case SecretFile::kNone: return "";
    case SecretFile::kNamedLikeKey: return quoted + " is named like a secret key (*.key); --allow-file publishes it";
    case SecretFile::kHoldsKey: return quoted + " is a minisign secret key; --allow-file publishes it";
    case SecretFile::kUnreadable: return quoted + " cannot be read to rule out a secret key";
  }
  return quoted + " cannot be judged";
}

bool RefuseSecretFiles(const std::vector<ReleaseFile>& files, const std::vector<std::string>& allowed,
                       Messages* messages) {
  const std::size_t errorsBefore = messages->errors.size();
  const auto judge = [&](const std::u16string& path, const std::string& name) {
    if (IsAllowed(name, allowed)) return;
    const std::string problem = DescribeSecretFile(JudgeSecretFile(path, name), name);
    if (!problem.empty()) messages->errors.push_back(problem);
  };
  for (const ReleaseFile& file : files) {
    if (!file.isPackage) {
      judge(file.path, file.name);
      continue;
    }
    // A package's files are named as they lie in the application folder, which
    // is also where the package unpacks them.
    const std::string folder = PackageFolderOf(file.name);
    for (const archive::PackageSource& source : file.packageFiles) {
      judge(source.path, Backslashed(folder + "\\" + platform::WideToUtf8(source.entryName)));
    }
  }
  return messages->errors.size() == errorsBefore;
}

void ReportSecretFiles(const std::u16string& folder, const std::string& prefix,
                       const std::vector<std::string>& allowed, std::vector<std::string>* problems) {
  ReportTree(folder, u"", prefix, allowed, problems);
}

}  // namespace velmora::publisher
