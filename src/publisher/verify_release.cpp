// Checks a release folder: its list, its files, its packages and its signature.
#include "publisher/verify_release.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "archive/package.h"
#include "manifest/release_list.h"
#include "manifest/safe_name.h"
#include "manifest/update_list.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "layout/own_files.h"
#include "platform/sha256.h"
#include "publisher/release_files.h"
#include "publisher/secret_files.h"
#include "trust/signature.h"

namespace velmora::publisher {
namespace {

constexpr char kSignatureEnding[] = ".minisig";

// A fresh folder in the system's temporary folder for unpacking; empty when
// none can be made. CreateFolder fails on an existing name, so two checks
// running at once never share one.
std::u16string MakeScratchFolder() {
  std::error_code error;
  const std::u16string temp = std::filesystem::temp_directory_path(error).u16string();
  if (error) return {};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::u16string folder = temp + u"\\velmora-verify-" + platform::Utf8ToWide(std::to_string(attempt));
    if (platform::CreateFolder(folder)) return folder;
  }
  return {};
}

void CheckEntry(const std::u16string& folder, const manifest::FileEntry& entry,
                const std::vector<std::string>& allowedFiles, std::vector<std::string>* problems) {
  const std::u16string path = folder + u"\\" + platform::Utf8ToWide(entry.name);
  const std::string quoted = "'" + entry.name + "'";
  std::uint64_t size = 0;
  if (!platform::ReadFileSize(path, &size)) {
    problems->push_back(quoted + " is missing");
    return;
  }
  if (size != entry.size) {
    problems->push_back(quoted + " has " + std::to_string(size) + " bytes, the list says " +
                        std::to_string(entry.size));
  }
  platform::Sha256Digest listed, actual;
  if (!platform::ParseSha256Hex(entry.sha256, &listed)) {
    problems->push_back(quoted + " has no Sha256 in the list");
  } else if (!platform::HashFileSha256(path, &actual)) {
    problems->push_back(quoted + " cannot be read");
  } else if (actual != listed) {
    problems->push_back(quoted + " does not match its Sha256");
  }
  if (!manifest::IsPackageName(entry.name)) return;
  const std::u16string scratch = MakeScratchFolder();
  if (scratch.empty()) {
    problems->push_back("no scratch folder to unpack " + quoted + " into");
    return;
  }
  if (!archive::UnzipPackage(path, scratch)) {
    problems->push_back(quoted + " does not unpack cleanly");
  }
  // Named as they will lie in an installation: below the package's folder.
  const std::string unpackedInto = PackageFolderOf(entry.name) + "\\";
  ReportSecretFiles(scratch, unpackedInto, allowedFiles, problems);
  platform::DeleteDirectoryTree(scratch);
}

std::uint64_t UnixTimeNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

std::string SignatureProblem(trust::SignatureCheck result) {
  switch (result) {
    case trust::SignatureCheck::kValid: return "is valid";
    case trust::SignatureCheck::kMalformed: return "is not a minisign signature";
    case trust::SignatureCheck::kWrongKey: return "was made with another key";
    case trust::SignatureCheck::kBadSignature: return "does not match UpdateList.xml";
    case trust::SignatureCheck::kBadGlobalSignature: return "has a changed trusted comment";
    case trust::SignatureCheck::kNoTimestamp: return "has no timestamp in its trusted comment";
    case trust::SignatureCheck::kBadExpiry: return "has an unreadable or repeated expires field";
  }
  return "cannot be checked";
}

void CheckSignature(const std::u16string& listPath, const std::u16string& keyFile,
                    std::vector<std::string>* problems, std::string* note) {
  std::string keyText, message, signature;
  trust::PublicKey key;
  if (!ReadWholeFile(keyFile, &keyText) || !trust::ReadPublicKey(keyText, &key)) {
    problems->push_back("'" + platform::WideToUtf8(keyFile) + "' is not a minisign public key");
    return;
  }
  if (!ReadWholeFile(listPath, &message) || !ReadWholeFile(listPath + platform::Utf8ToWide(kSignatureEnding), &signature)) {
    problems->push_back("UpdateList.xml.minisig is missing");
    return;
  }
  trust::SignedComment comment;
  const trust::SignatureCheck result = trust::CheckSignature(key, message, signature, &comment);
  if (result != trust::SignatureCheck::kValid) {
    problems->push_back("UpdateList.xml.minisig " + SignatureProblem(result));
    return;
  }
  *note = ", signed (timestamp " + std::to_string(comment.timestamp);
  if (comment.expires) {
    *note += ", expires " + std::to_string(*comment.expires);
    // Clients refuse an expired list, so publishing one is a mistake.
    if (*comment.expires <= UnixTimeNow()) problems->push_back("UpdateList.xml.minisig has expired");
  }
  *note += ")";
}

// The list's entries, each unsafe name reported; `*table` holds what can be
// used. `*complete` tells whether the list read as the updater reads it.
bool ReadList(const manifest::ListDocument& document, manifest::FileTable* table, std::string* entryPoint,
              bool* complete, std::vector<std::string>* problems) {
  const manifest::ListRead read = manifest::ReadUpdateList(document, table, entryPoint);
  *complete = read == manifest::ListRead::kOk;
  if (*complete) return true;
  if (read == manifest::ListRead::kNameClash) {
    problems->push_back("two names of the list install to one path, or one inside another");
  }
  std::size_t unsafe = 0;
  for (const std::string& name : manifest::ReadListNames(document)) {
    if (manifest::IsSafeListName(name)) continue;
    problems->push_back("'" + name + "' is a name the updater refuses");
    ++unsafe;
  }
  if (unsafe == 0 && read != manifest::ListRead::kNameClash) {
    problems->push_back("UpdateList.xml does not read as an update list");
  }
  // The usable entries are still worth checking.
  return manifest::ReadInstalledList(document, table);
}

}  // namespace

bool VerifyRelease(const VerifyOptions& options, std::vector<std::string>* problems, std::string* summary) {
  const std::size_t problemsBefore = problems->size();
  const std::u16string listPath = options.folder + u"\\" + layout::kLocalListName;
  manifest::FileTable table;
  std::string entryPoint, bytes;
  bool complete = false;
  manifest::ListDocument document;
  if (!ReadWholeFile(listPath, &bytes) || !document.Parse(bytes)) {
    problems->push_back("UpdateList.xml cannot be read as XML");
  } else if (ReadList(document, &table, &entryPoint, &complete, problems)) {
    std::uint64_t bytes = 0;
    for (const auto& [name, entry] : table) {
      CheckEntry(options.folder, entry, options.allowedFiles, problems);
      bytes += entry.size;
    }
    // An unsafe entry point reads as an empty one.
    if (complete && (entryPoint.empty() || table.count(entryPoint) == 0)) {
      problems->push_back("the entry point '" + entryPoint + "' is missing, refused or not listed");
    }
    *summary = std::to_string(table.size()) + " entries, " + std::to_string(bytes) + " bytes, version " +
               document.ApplicationVersion() + ", entry point " + entryPoint;
  }
  ReportSecretFiles(options.folder, "", options.allowedFiles, problems);
  std::string signatureNote;
  if (!options.keyFile.empty()) CheckSignature(listPath, options.keyFile, problems, &signatureNote);
  *summary += signatureNote;
  return problems->size() == problemsBefore;
}

}  // namespace velmora::publisher
