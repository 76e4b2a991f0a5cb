// Records applied files and the application in the installed list's document, and gives its text.
#include <string>

#include "manifest/list_document.h"
#include "manifest/update_list.h"

namespace velmora::manifest {
namespace {

// A File element with Ver before Name, so that reading by position finds
// them again.
tinyxml2::XMLElement* NewFileElement(tinyxml2::XMLDocument& document, const FileEntry& entry) {
  tinyxml2::XMLElement* element = document.NewElement("File");
  element->SetAttribute("Ver", entry.version.c_str());
  element->SetAttribute("Name", entry.name.c_str());
  return element;
}

tinyxml2::XMLElement* FilesOf(tinyxml2::XMLDocument& document) {
  tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  return root == nullptr ? nullptr : root->FirstChildElement("Files");
}

// Sets the text of `parent`/`name`, creating the element where it is missing.
void SetChildText(tinyxml2::XMLDocument& document, tinyxml2::XMLElement* parent, const char* name,
                  const std::string& text) {
  tinyxml2::XMLElement* element = parent->FirstChildElement(name);
  if (element == nullptr) element = parent->InsertEndChild(document.NewElement(name))->ToElement();
  element->DeleteChildren();
  element->SetText(text.c_str());
}

}  // namespace

UpdateListWriter::OpenResult UpdateListWriter::Open(ListDocument* local, ListDocument* remote) {
  document_ = nullptr;
  listReplaced_ = local == nullptr;
  ListDocument* source = listReplaced_ ? remote : local;
  tinyxml2::XMLDocument& document = source->state().document;
  if (document.FirstChildElement("Velmorar") == nullptr) return OpenResult::kNoRoot;
  tinyxml2::XMLElement* files = FilesOf(document);
  if (files == nullptr) return OpenResult::kNoFiles;
  // The remote header stays; the file list is rebuilt from what this run
  // applies. The remote entries were read into the plan already.
  if (listReplaced_) files->DeleteChildren();
  document_ = source;
  return OpenResult::kOk;
}

void UpdateListWriter::RecordAppliedFile(const FileEntry& entry) {
  if (document_ == nullptr) return;
  tinyxml2::XMLDocument& document = document_->state().document;
  tinyxml2::XMLElement* files = FilesOf(document);
  // A name the list already has keeps its one element, so the list never
  // grows over runs, even where the reader passed the element over.
  for (tinyxml2::XMLElement* element = files->FirstChildElement("File"); element != nullptr;
       element = element->NextSiblingElement()) {
    const char* name = AttributeAt(*element, 2);
    const char* namedName = element->Attribute("Name");
    if ((name == nullptr || entry.name != name) && (namedName == nullptr || entry.name != namedName)) {
      continue;
    }
    FileEntry existing;
    if (ReadEntry(*element, &existing)) {
      // Replaces an attribute named Ver, or appends one after the others; the
      // element's attribute 1 is then left as it was.
      element->SetAttribute("Ver", entry.version.c_str());
      return;
    }
    // An element the reader cannot use would make every later run install
    // the file again: a well-formed one takes its place.
    files->InsertAfterChild(element, NewFileElement(document, entry));
    files->DeleteChild(element);
    return;
  }
  // A known entry whose element has gone is not brought back.
  if (entry.isNew) files->InsertEndChild(NewFileElement(document, entry));
}

void UpdateListWriter::RecordApplication(const std::string& version, const std::string& entryPoint) {
  if (document_ == nullptr) return;
  tinyxml2::XMLDocument& document = document_->state().document;
  tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  tinyxml2::XMLElement* application = root->FirstChildElement("Application");
  if (application == nullptr) {
    // Before Files, where a published list has it.
    application = document.NewElement("Application");
    root->InsertFirstChild(application);
  }
  SetChildText(document, application, "Version", version);
  SetChildText(document, application, "EntryPoint", entryPoint);
}

std::string UpdateListWriter::Text() const {
  if (document_ == nullptr) return std::string();
  // Indented output; the byte-order mark is printed only when the parsed
  // bytes had one.
  tinyxml2::XMLPrinter printer(nullptr, false);
  document_->state().document.Print(&printer);
  return std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
}

}  // namespace velmora::manifest
