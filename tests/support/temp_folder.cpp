// Creates the unique folder behind TempFolder and reaches the files in it.
#include "support/temp_folder.h"

#include <stdlib.h>

#include <stdexcept>

#include "platform/encoding.h"
#include "support/file_support.h"

namespace velmora::testing {

std::filesystem::path TempFolder::MakeTemp(std::string& pattern) {
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::u16string TempFolder::File(const std::string& name) const {
  return platform::Utf8ToWide((path_ / name).string());
}

std::u16string TempFolder::Write(const std::string& name, const std::string& content) const {
  const std::string path = (path_ / name).string();
  WriteFile(path, content);
  return File(name);
}

std::string TempFolder::Read(const std::string& name) const { return ReadFile((path_ / name).string()); }

bool TempFolder::Exists(const std::string& name) const { return velmora::testing::Exists((path_ / name).string()); }

}  // namespace velmora::testing
