// Parses list documents from memory, and the helpers the list readers and the write-back share.
#include "manifest/list_document.h"

namespace velmora::manifest {

ListDocument::ListDocument() : state_(std::make_unique<State>()) {}
ListDocument::~ListDocument() = default;

bool ListDocument::Parse(const std::string& bytes) {
  // The library stops at its depth limit with an error of its own, so a
  // document nested without end is refused rather than followed.
  return state_->document.Parse(bytes.data(), bytes.size()) == tinyxml2::XML_SUCCESS;
}

namespace {

std::string ApplicationText(const tinyxml2::XMLDocument& document, const char* name) {
  const tinyxml2::XMLElement* root = document.FirstChildElement("Velmorar");
  if (root == nullptr) return std::string();
  const tinyxml2::XMLElement* application = root->FirstChildElement("Application");
  if (application == nullptr) return std::string();
  return ElementText(application->FirstChildElement(name));
}

}  // namespace

std::string ListDocument::ApplicationVersion() const { return ApplicationText(state_->document, "Version"); }

std::string ListDocument::ApplicationEntryPoint() const { return ApplicationText(state_->document, "EntryPoint"); }

std::string ElementText(const tinyxml2::XMLElement* element) {
  if (element == nullptr) return std::string();
  // Looks at the first child itself: recent library versions' GetText passes
  // over leading comments, which would read text the format does not count.
  const tinyxml2::XMLNode* first = element->FirstChild();
  if (first == nullptr || first->ToText() == nullptr) return std::string();
  return std::string(first->Value());
}

const char* AttributeAt(const tinyxml2::XMLElement& element, int position) {
  const tinyxml2::XMLAttribute* attribute = element.FirstAttribute();
  for (int i = 1; attribute != nullptr && i < position; ++i) attribute = attribute->Next();
  return attribute == nullptr ? nullptr : attribute->Value();
}

bool ParseListSize(const char* text, std::uint64_t* size) {
  if (text == nullptr) return false;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  // A negative size is no size: read modulo 2^64 it would announce a file
  // of exabytes and disable the cut-off of an oversized download.
  if (*p == '-') return false;
  if (*p == '+') ++p;
  if (*p < '0' || *p > '9') return false;
  std::uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const auto digit = static_cast<std::uint64_t>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *size = value;
  return true;
}

}  // namespace velmora::manifest
