// Helpers the list readers and the write-back share.
#include "manifest/list_document.h"

#include <tinyxml2.h>

#include "platform/paths.h"

namespace velmora::manifest {

bool LoadListDocument(const std::string& path, tinyxml2::XMLDocument& document) {
  document.LoadFile(platform::NativePath(path).c_str());
  return document.ErrorID() == tinyxml2::XML_SUCCESS;
}

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

bool ParseListSize(const char* text, std::uint32_t* size) {
  if (text == nullptr) return false;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (*p < '0' || *p > '9') return false;
  std::uint64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
    if (magnitude > UINT32_MAX) return false;
  }
  const auto value = static_cast<std::uint32_t>(magnitude);
  *size = negative ? static_cast<std::uint32_t>(0u - value) : value;
  return true;
}

}  // namespace velmora::manifest
