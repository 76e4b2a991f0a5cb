// Records applied files in the local update list and writes it back atomically.
#include "manifest/update_list.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <tinyxml2.h>

#include "manifest/list_document.h"
#include "platform/file_system.h"

namespace velmora::manifest {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Writes all of `data` to a fresh file at `path`; false on any short write or
// a failed close, so a full disk is never mistaken for a written list.
bool WriteWholeFile(const std::u16string& path, const char* data, std::size_t size) {
  UniqueFile file(platform::OpenForBinaryWrite(path));
  if (!file) return false;
  const bool written = std::fwrite(data, 1, size, file.get()) == size;
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace

struct UpdateListWriter::State {
  // A File element with Ver before Name, so that reading by position finds
  // them again.
  tinyxml2::XMLElement* NewFileElement(const FileEntry& entry);

  tinyxml2::XMLDocument document;
  tinyxml2::XMLElement* files = nullptr;
  std::u16string localListPath;
  bool listReplaced = false;
};

tinyxml2::XMLElement* UpdateListWriter::State::NewFileElement(const FileEntry& entry) {
  tinyxml2::XMLElement* element = document.NewElement("File");
  element->SetAttribute("Ver", entry.version.c_str());
  element->SetAttribute("Name", entry.name.c_str());
  return element;
}

UpdateListWriter::UpdateListWriter() = default;
UpdateListWriter::~UpdateListWriter() = default;

UpdateListWriter::OpenResult UpdateListWriter::OpenForWriteBack(
    const std::u16string& localListPath, const std::u16string& downloadedListPath) {
  state_ = std::make_unique<State>();
  state_->localListPath = localListPath;
  // Without a local list the downloaded one is the starting point. It is only
  // loaded, never moved: a run that ends before Save must not leave a local
  // list naming versions that were never installed.
  std::u16string sourcePath = localListPath;
  if (!platform::GetPathAttributes(localListPath, nullptr)) {
    state_->listReplaced = true;
    sourcePath = downloadedListPath;
  }
  if (!LoadListDocument(sourcePath, state_->document)) return OpenResult::kCannotLoad;
  tinyxml2::XMLElement* root = state_->document.FirstChildElement("Velmorar");
  if (root == nullptr) return OpenResult::kNoRoot;
  tinyxml2::XMLElement* files = root->FirstChildElement("Files");
  if (files == nullptr) return OpenResult::kNoFiles;
  // The remote header stays; the file list is rebuilt from what this run applies.
  if (state_->listReplaced) files->DeleteChildren();
  state_->files = files;
  return OpenResult::kOk;
}

bool UpdateListWriter::listReplaced() const { return state_ != nullptr && state_->listReplaced; }

void UpdateListWriter::Close() { state_.reset(); }

void UpdateListWriter::RecordAppliedFile(const FileEntry& entry) {
  if (state_ == nullptr || state_->files == nullptr) return;
  tinyxml2::XMLElement* files = state_->files;
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
    files->InsertAfterChild(element, state_->NewFileElement(entry));
    files->DeleteChild(element);
    return;
  }
  // A known entry whose element has gone is not brought back.
  if (entry.isNew) files->InsertEndChild(state_->NewFileElement(entry));
}

bool UpdateListWriter::Save() {
  if (state_ == nullptr || state_->files == nullptr) return false;
  // Indented output; the byte-order mark is printed only when the loaded file
  // had one.
  tinyxml2::XMLPrinter printer(nullptr, false);
  state_->document.Print(&printer);
  const std::size_t size = std::strlen(printer.CStr());

  const std::u16string& wideList = state_->localListPath;
  const std::u16string wideTemp = wideList + u".tmp";
  if (!WriteWholeFile(wideTemp, printer.CStr(), size)) {
    platform::RemoveFile(wideTemp);
    return false;
  }
  if (platform::GetPathAttributes(wideList, nullptr)) platform::TakeOverPermissions(wideList, wideTemp);
  // The rename is what makes the new list visible, so its content must be on
  // the disk first, or a power loss could leave an empty list behind.
  if (!platform::FlushFileToDisk(wideTemp) ||
      !platform::MoveFileReplacing(wideTemp, wideList)) {
    platform::RemoveFile(wideTemp);
    return false;
  }
  return true;
}

}  // namespace velmora::manifest
