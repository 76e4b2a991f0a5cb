// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace velmora::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    path_ = MakeTemp(pattern);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The folder as the updater's core writes paths: with a trailing separator.
  std::string Dir() const { return path_.string() + "/"; }
  // The path of `name` inside the folder, as the updater forms paths.
  std::u16string File(const std::string& name) const;
  // Writes (replaces) the file `name`, creating missing folders; its path.
  std::u16string Write(const std::string& name, const std::string& content) const;
  // The content of `name`; empty when it cannot be read.
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  static std::filesystem::path MakeTemp(std::string& pattern);
  std::filesystem::path path_;
};

}  // namespace velmora::testing
