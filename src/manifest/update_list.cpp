// Reads the application version and the file entries of an update list.
#include "manifest/update_list.h"

#include <string>
#include <utility>

#include <tinyxml2.h>

#include "manifest/list_document.h"
#include "manifest/safe_name.h"

namespace velmora::manifest {
// Reads one File element (or any sibling after the first File) by attribute
// position: 1 version, 2 name, 3 size. False for an entry the run cannot use.
namespace {
bool IsSha256Text(const std::string& text);
}  // namespace

bool ReadEntry(const tinyxml2::XMLElement& element, FileEntry* entry) {
  const char* version = AttributeAt(element, 1);
  const char* name = AttributeAt(element, 2);
  if (version == nullptr || name == nullptr) return false;
  // A name that climbs out of the installation folder, or names a drive,
  // would let a list write anywhere; such a list is refused as a whole.
  if (!IsSafeListName(name)) return false;
  entry->version = version;
  entry->name = name;
  entry->isNew = true;
  entry->size = 0;
  const char* size = AttributeAt(element, 3);
  if (size != nullptr && !ParseListSize(size, &entry->size)) return false;
  entry->sha256.clear();
  if (const char* hash = element.Attribute("Sha256")) {
    if (!IsSha256Text(hash)) return false;
    entry->sha256 = hash;
  }
  return true;
}

namespace {

bool IsSha256Text(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The list's File elements read into `table`; `strict` refuses the whole list
// at the first unusable entry, otherwise that entry alone is left out.
bool ReadEntries(const std::u16string& path, bool strict, FileTable& table, std::string* entryPoint) {
  table.clear();
  tinyxml2::XMLDocument document;
  if (!LoadListDocument(path, document)) return false;
  const tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  if (root == nullptr || root->FirstChildElement("Updater") == nullptr) return false;

  if (entryPoint != nullptr) {
    if (const tinyxml2::XMLElement* application = root->FirstChildElement("Application")) {
      if (const tinyxml2::XMLElement* entry = application->FirstChildElement("EntryPoint")) {
        std::string text = ElementText(entry);
        // An unsafe entry point is reported as a missing one, which stops the run.
        if (IsSafeListName(text)) *entryPoint = std::move(text);
      }
    }
  }

  const tinyxml2::XMLElement* files = root->FirstChildElement("Files");
  if (files == nullptr) return false;
  // Entries start at the first File and take in every later sibling element,
  // whatever its name; elements before that File are not entries.
  for (const tinyxml2::XMLElement* element = files->FirstChildElement("File");
       element != nullptr; element = element->NextSiblingElement()) {
    FileEntry entry;
    if (!ReadEntry(*element, &entry)) {
      if (!strict) continue;
      table.clear();
      return false;
    }
    // The first entry of a name wins; emplace leaves an existing key alone.
    std::string key = entry.name;
    table.emplace(std::move(key), std::move(entry));
  }
  return !table.empty();
}

}  // namespace

std::string ReadApplicationVersion(const std::u16string& path) {
  tinyxml2::XMLDocument document;
  if (!LoadListDocument(path, document)) return std::string();
  const tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  if (root == nullptr) return std::string();
  const tinyxml2::XMLElement* application = root->FirstChildElement("Application");
  if (application == nullptr) return std::string();
  return ElementText(application->FirstChildElement("Version"));
}

bool ReadUpdateList(const std::u16string& path, FileTable& table, std::string& entryPoint) {
  entryPoint.clear();
  return ReadEntries(path, true, table, &entryPoint);
}

bool ReadInstalledList(const std::u16string& path, FileTable& table) {
  return ReadEntries(path, false, table, nullptr);
}

}  // namespace velmora::manifest
