// Writes a release's update list.
#include "manifest/release_list.h"

#include <tinyxml2.h>


namespace velmora::manifest {
namespace {

void AddTextElement(tinyxml2::XMLDocument& document, tinyxml2::XMLElement* parent, const char* name,
                    const std::string& text) {
  tinyxml2::XMLElement* element = document.NewElement(name);
  element->SetText(text.c_str());
  parent->InsertEndChild(element);
}

}  // namespace

std::string ReleaseListText(const ReleaseList& list) {
  tinyxml2::XMLDocument document;
  document.InsertEndChild(document.NewDeclaration("xml version=\"1.0\" encoding=\"utf-8\""));
  tinyxml2::XMLElement* root = document.NewElement("Velmorar");
  document.InsertEndChild(root);
  tinyxml2::XMLElement* updater = document.NewElement("Updater");
  root->InsertEndChild(updater);
  AddTextElement(document, updater, "LastUpdateTime", list.lastUpdateTime);
  tinyxml2::XMLElement* application = document.NewElement("Application");
  root->InsertEndChild(application);
  AddTextElement(document, application, "Version", list.version);
  AddTextElement(document, application, "EntryPoint", list.entryPoint);

  tinyxml2::XMLElement* files = document.NewElement("Files");
  root->InsertEndChild(files);
  for (const auto& [name, entry] : list.files) {
    // The readers take Ver, Name and Size by position, so the order matters.
    tinyxml2::XMLElement* element = document.NewElement("File");
    element->SetAttribute("Ver", entry.version.c_str());
    element->SetAttribute("Name", name.c_str());
    element->SetAttribute("Size", std::to_string(entry.size).c_str());
    if (!entry.sha256.empty()) element->SetAttribute("Sha256", entry.sha256.c_str());
    if (!entry.zstName.empty()) {
      element->SetAttribute("Zst", entry.zstName.c_str());
      element->SetAttribute("ZstSize", std::to_string(entry.zstSize).c_str());
      element->SetAttribute("ZstSha256", entry.zstSha256.c_str());
    }
    for (const PatchEntry& patch : entry.patches) {
      tinyxml2::XMLElement* child = document.NewElement("Patch");
      child->SetAttribute("From", patch.from.c_str());
      child->SetAttribute("Name", patch.name.c_str());
      child->SetAttribute("Size", std::to_string(patch.size).c_str());
      child->SetAttribute("Sha256", patch.sha256.c_str());
      element->InsertEndChild(child);
    }
    files->InsertEndChild(element);
  }
  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  return std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
}

}  // namespace velmora::manifest
