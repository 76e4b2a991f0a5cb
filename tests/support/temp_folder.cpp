// Creates the unique folder behind TempFolder and reaches the files in it.
#include "support/temp_folder.h"

#include <stdlib.h>

#include <stdexcept>

#include "support/file_support.h"

namespace velmora::testing {

std::filesystem::path TempFolder::MakeTemp(std::string& pattern) {
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string TempFolder::Write(const std::string& name, const std::string& content) const {
  const std::string path = File(name);
  WriteFile(path, content);
  return path;
}

std::string TempFolder::Read(const std::string& name) const { return ReadFile(File(name)); }

bool TempFolder::Exists(const std::string& name) const { return velmora::testing::Exists(File(name)); }

}  // namespace velmora::testing
