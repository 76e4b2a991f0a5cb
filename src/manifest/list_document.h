// Helpers the list readers and the write-back share; for use inside this folder only.
#pragma once

#include <cstdint>
#include <string>

#include <tinyxml2.h>

#include "manifest/update_list.h"

namespace velmora::manifest {

struct ListDocument::State {
  tinyxml2::XMLDocument document;
};

// Reads one File element by attribute position (1 version, 2 name, 3 size)
// and its Sha256 attribute, with the compressed form and patches it
// announces. False for an entry the run cannot use: fewer than two
// attributes, an unsafe name, a size or hash that does not read.
bool ReadEntry(const tinyxml2::XMLElement& element, FileEntry* entry);

// The element's text when its first child is text (character data included),
// unchanged; empty for a null element or one whose first child is not text.
std::string ElementText(const tinyxml2::XMLElement* element);

// The value of the attribute at 1-based `position` in document order, whatever
// its name; null when the element has fewer attributes.
const char* AttributeAt(const tinyxml2::XMLElement& element, int position);

// Reads a size attribute as an unsigned decimal number: leading blanks are
// skipped, a plus sign is accepted, reading stops at the first non-digit
// ("512x" is 512). False for a minus sign, when no digit follows, or when the
// digits exceed 64 bits.
bool ParseListSize(const char* text, std::uint64_t* size);

}  // namespace velmora::manifest
