// A private temporary folder for the list tests, removed with everything in it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace velmora::manifest::testing {

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("velmora-manifest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The narrow path of `name` inside the folder, as the updater would form it.
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream out(root_ / name, std::ios::binary);
    out << content;
    return Path(name);
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(root_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(root_ / name); }

  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
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
