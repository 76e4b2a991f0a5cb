// Reads the file entries of an update list document.
#include "manifest/update_list.h"

#include <string>
#include <utility>

#include "layout/name_policy.h"
#include "manifest/list_document.h"
#include "manifest/safe_name.h"

namespace velmora::manifest {
namespace {

constexpr std::size_t kPackageEndingLength = 4;  // ".zip"

bool IsSha256Text(const char* text) {
  if (text == nullptr) return false;
  const std::string value = text;
  if (value.size() != 64) return false;
  for (char c : value) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The compressed form a File element announces. A form that does not read
// is passed over: the file itself can always be fetched.
void ReadCompressedForm(const tinyxml2::XMLElement& element, FileEntry* entry) {
  const char* name = element.Attribute("Zst");
  const char* hash = element.Attribute("ZstSha256");
  std::uint64_t size = 0;
  if (name == nullptr || !IsSafeListName(name) || !ParseListSize(element.Attribute("ZstSize"), &size) ||
      !IsSha256Text(hash)) {
    return;
  }
  entry->zstName = name;
  entry->zstSize = size;
  entry->zstSha256 = hash;
}

// The patches a File element announces as Patch children; likewise, one
// that does not read is passed over.
void ReadPatches(const tinyxml2::XMLElement& element, FileEntry* entry) {
  for (const tinyxml2::XMLElement* child = element.FirstChildElement("Patch"); child != nullptr;
       child = child->NextSiblingElement("Patch")) {
    PatchEntry patch;
    const char* name = child->Attribute("Name");
    if (name == nullptr || !IsSafeListName(name) || !IsSha256Text(child->Attribute("From")) ||
        !IsSha256Text(child->Attribute("Sha256")) || !ParseListSize(child->Attribute("Size"), &patch.size)) {
      continue;
    }
    patch.name = name;
    patch.from = child->Attribute("From");
    patch.sha256 = child->Attribute("Sha256");
    entry->patches.push_back(std::move(patch));
  }
}

// The key of the place an entry installs to: a package's folder, or the file.
bool PlaceKeyOf(const std::string& name, std::u16string* key) {
  return layout::InstalledPathKey(IsPackageName(name) ? name.substr(0, name.size() - kPackageEndingLength) : name,
                                  key);
}


const tinyxml2::XMLElement* FilesElement(const ListDocument& document) {
  const tinyxml2::XMLElement* root = document.state().document.FirstChildElement("Velmorar");
  if (root == nullptr || root->FirstChildElement("Updater") == nullptr) return nullptr;
  return root->FirstChildElement("Files");
}

// The list's File elements read into `table`; `strict` refuses the whole list
// at the first unusable entry, otherwise that entry alone is left out.
ListRead ReadEntries(const ListDocument& document, bool strict, FileTable* table) {
  table->clear();
  const tinyxml2::XMLElement* files = FilesElement(document);
  if (files == nullptr) return ListRead::kNoStructure;
  // Entries start at the first File and take in every later sibling element,
  // whatever its name; elements before that File are not entries.
  for (const tinyxml2::XMLElement* element = files->FirstChildElement("File"); element != nullptr;
       element = element->NextSiblingElement()) {
    FileEntry entry;
    if (!ReadEntry(*element, &entry)) {
      if (!strict) continue;
      table->clear();
      return ListRead::kBadEntry;
    }
    // The first entry of a name wins; emplace leaves an existing key alone.
    std::string key = entry.name;
    table->emplace(std::move(key), std::move(entry));
  }
  return table->empty() ? ListRead::kNoEntries : ListRead::kOk;
}

}  // namespace

bool HasDistinctPlaces(const FileTable& table) {
  std::vector<std::u16string> keys;
  keys.reserve(table.size());
  for (const auto& [name, entry] : table) {
    std::u16string key;
    if (!PlaceKeyOf(name, &key)) return false;
    keys.push_back(std::move(key));
  }
  return layout::AreDistinctPlaces(std::move(keys));
}

bool ReadEntry(const tinyxml2::XMLElement& element, FileEntry* entry) {
  const char* version = AttributeAt(element, 1);
  const char* name = AttributeAt(element, 2);
  if (version == nullptr || name == nullptr) return false;
  // A name that climbs out of the installation folder, or names a drive,
  // would let a list write anywhere; such a list is refused as a whole.
  if (!IsSafeListName(name)) return false;
  *entry = FileEntry{};
  entry->version = version;
  entry->name = name;
  const char* size = AttributeAt(element, 3);
  if (size != nullptr) {
    if (!ParseListSize(size, &entry->size)) return false;
    entry->hasSize = true;
  }
  if (const char* hash = element.Attribute("Sha256")) {
    if (!IsSha256Text(hash)) return false;
    entry->sha256 = hash;
  }
  ReadCompressedForm(element, entry);
  ReadPatches(element, entry);
  return true;
}

ListRead ReadUpdateList(const ListDocument& document, FileTable* table, std::string* entryPoint) {
  entryPoint->clear();
  const ListRead read = ReadEntries(document, true, table);
  if (read != ListRead::kOk) return read;
  // Two names for one place would let the second move destroy the first's
  // retired copy, and two downloads share one file.
  if (!HasDistinctPlaces(*table)) {
    table->clear();
    return ListRead::kNameClash;
  }
  const tinyxml2::XMLElement* root = document.state().document.FirstChildElement("Velmorar");
  if (const tinyxml2::XMLElement* application = root->FirstChildElement("Application")) {
    std::string text = ElementText(application->FirstChildElement("EntryPoint"));
    // An unsafe entry point is reported as a missing one, which stops the run.
    if (IsSafeListName(text)) *entryPoint = std::move(text);
  }
  return ListRead::kOk;
}

bool ReadInstalledList(const ListDocument& document, FileTable* table) {
  return ReadEntries(document, false, table) == ListRead::kOk;
}

std::vector<std::string> ReadListNames(const ListDocument& document) {
  std::vector<std::string> names;
  const tinyxml2::XMLElement* root = document.state().document.FirstChildElement("Velmorar");
  const tinyxml2::XMLElement* files = root == nullptr ? nullptr : root->FirstChildElement("Files");
  if (files == nullptr) return names;
  for (const tinyxml2::XMLElement* element = files->FirstChildElement("File"); element != nullptr;
       element = element->NextSiblingElement()) {
    const char* name = AttributeAt(*element, 2);
    names.emplace_back(name == nullptr ? "" : name);
  }
  return names;
}

}  // namespace velmora::manifest
