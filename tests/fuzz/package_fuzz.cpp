// Fuzzes package extraction: arbitrary bytes unpacked into a fresh folder must never write outside it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/package.h"
#include "platform/encoding.h"

namespace {

namespace fs = std::filesystem;

// parent/ holds only sandbox/; sandbox/ holds only the package and out/.
struct Sandbox {
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "velmora-package-fuzz-XXXXXX").string();
    parent = fs::path(::mkdtemp(pattern.data()));
    sandbox = parent / "sandbox";
    fs::create_directory(sandbox);
    package = sandbox / "p.zip";
    out = sandbox / "out";
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(parent, ignored);
  }
  fs::path parent, sandbox, package, out;
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

// Only `allowed` may exist in `folder`.
void CheckOnly(const fs::path& folder, std::initializer_list<fs::path> allowed) {
  for (const auto& item : fs::directory_iterator(folder)) {
    bool known = false;
    for (const fs::path& name : allowed) known = known || item.path().filename() == name;
    if (!known) {
      std::fprintf(stderr, "written outside the package folder: %s\n", item.path().c_str());
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox& box = TheSandbox();
  {
    std::ofstream file(box.package, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // Backslashes as the update run writes them; the package folder's name as well.
  velmora::archive::UnzipPackage(velmora::platform::Utf8ToWide(box.package.string()),
                                 velmora::platform::Utf8ToWide(box.sandbox.string() + "\\out"));
  CheckOnly(box.sandbox, {"p.zip", "out"});
  CheckOnly(box.parent, {"sandbox"});
  std::error_code ignored;
  fs::permissions(box.out, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(box.out, ignored);
  return 0;
}
