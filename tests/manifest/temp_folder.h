// The list tests' temporary folder, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/encoding.h"
#include "support/temp_folder.h"

namespace velmora::manifest::testing {

// The shared temporary folder, with the file helpers the list tests use.
class TempFolder {
 public:
  // The path of `name` inside the folder, as the updater forms paths.
  std::u16string Path(const std::string& name) const { return platform::Utf8ToWide((root() / name).string()); }

  std::u16string Write(const std::string& name, const std::string& content) const {
    std::ofstream out(root() / name, std::ios::binary);
    out << content;
    return Path(name);
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(root() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(root() / name); }

  const std::filesystem::path& root() const { return folder_.Path(); }

 private:
  velmora::testing::TempFolder folder_;
};

// A complete list around the given Files content, with application version
// `version` and entry point "TarvikService.exe".
inline std::string ListWithFiles(const std::string& files, const std::string& version = "2.1.0.7") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<Velmorar>\n"
         "  <Updater><LastUpdateTime>2026-01-02 03:04</LastUpdateTime></Updater>\n"
         "  <Application><Version>" + version + "</Version>"
         "<EntryPoint>TarvikService.exe</EntryPoint></Application>\n"
         "  <Files>" + files + "</Files>\n"
         "</Velmorar>\n";
}

}  // namespace velmora::manifest::testing
