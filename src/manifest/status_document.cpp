// The status file a run leaves for its host: what happened, in UTF-8 XML.
#include "manifest/status_document.h"

#include <tinyxml2.h>

namespace velmora::manifest {
namespace {

tinyxml2::XMLElement* AddText(tinyxml2::XMLDocument& document, tinyxml2::XMLElement* parent, const char* name,
                              const std::string& text) {
  tinyxml2::XMLElement* element = document.NewElement(name);
  if (!text.empty()) element->SetText(text.c_str());
  parent->InsertEndChild(element);
  return element;
}

std::string NumberText(std::uint64_t value) { return value == 0 ? std::string() : std::to_string(value); }

}  // namespace

std::string StatusText(const RunStatus& status) {
  tinyxml2::XMLDocument document;
  document.InsertEndChild(document.NewDeclaration("xml version=\"1.0\" encoding=\"utf-8\""));
  tinyxml2::XMLElement* root = document.NewElement("UpdateStatus");
  document.InsertEndChild(root);
  AddText(document, root, "Outcome", status.outcome);
  AddText(document, root, "Message", status.message);
  AddText(document, root, "InstalledVersion", status.installedVersion);
  AddText(document, root, "RemoteVersion", status.remoteVersion);
  AddText(document, root, "File", status.file);
  tinyxml2::XMLElement* code =
      AddText(document, root, "Code", status.codeKind.empty() ? std::string() : std::to_string(status.code));
  if (!status.codeKind.empty()) code->SetAttribute("Kind", status.codeKind.c_str());
  AddText(document, root, "Started", status.started);
  AddText(document, root, "Ended", status.ended);
  AddText(document, root, "BytesDownloaded", std::to_string(status.bytesDownloaded));
  AddText(document, root, "ListTimestamp", NumberText(status.listTimestamp));
  AddText(document, root, "FileCount", NumberText(status.fileCount));
  AddText(document, root, "DownloadSize", NumberText(status.downloadSize));
  AddText(document, root, "BytesWritten", NumberText(status.bytesWritten));
  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  return std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
}

}  // namespace velmora::manifest
