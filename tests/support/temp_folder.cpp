// Creates the unique folder behind TempFolder.
#include "support/temp_folder.h"

#include <stdlib.h>

#include <stdexcept>

namespace velmora::testing {

std::filesystem::path TempFolder::MakeTemp(std::string& pattern) {
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace velmora::testing
