// Reads the application version and the file entries of an update list.
#include "manifest/update_list.h"

#include <string>
#include <utility>

#include <tinyxml2.h>

#include "manifest/list_document.h"
#include "manifest/safe_name.h"

namespace velmora::manifest {
namespace {

// Reads one File element (or any sibling after the first File) by attribute
// position: 1 version, 2 name, 3 size. False for an entry the run cannot use.
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
  return true;
}

}  // namespace

std::string ReadApplicationVersion(const std::string& path) {
  tinyxml2::XMLDocument document;
  if (!LoadListDocument(path, document)) return std::string();
  const tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  if (root == nullptr) return std::string();
  const tinyxml2::XMLElement* application = root->FirstChildElement("Application");
  if (application == nullptr) return std::string();
  return ElementText(application->FirstChildElement("Version"));
}

bool ReadUpdateList(const std::string& path, FileTable& table, std::string& entryPoint) {
  table.clear();
  entryPoint.clear();
  tinyxml2::XMLDocument document;
  if (!LoadListDocument(path, document)) return false;
  const tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  if (root == nullptr || root->FirstChildElement("Updater") == nullptr) return false;

  if (const tinyxml2::XMLElement* application = root->FirstChildElement("Application")) {
    if (const tinyxml2::XMLElement* entry = application->FirstChildElement("EntryPoint")) {
      std::string text = ElementText(entry);
      // An unsafe entry point is reported as a missing one, which stops the run.
      if (IsSafeListName(text)) entryPoint = std::move(text);
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
      table.clear();
      return false;
    }
    // The first entry of a name wins; emplace leaves an existing key alone.
    std::string key = entry.name;
    table.emplace(std::move(key), std::move(entry));
  }
  return !table.empty();
}

}  // namespace velmora::manifest
