// Tests for building a release folder and for the checks of verify.
#include "publisher/build_release.h"
#include "publisher/verify_release.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>

#include "archive/zstd_codec.h"
#include "manifest/update_list.h"
#include "platform/encoding.h"
#include "platform/sha256.h"
#include "support/file_support.h"
#include "support/temp_folder.h"
#include "trust/minisign_tool.h"

namespace velmora::publisher {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

using Attributes = std::map<std::string, std::string>;

// Each File element of a list by name, with the Patch elements inside it.
struct Listed {
  Attributes file;
  std::vector<Attributes> patches;
};
std::map<std::string, Listed> ReadListed(const std::string& xml) {
  std::map<std::string, Listed> listed;
  Listed* current = nullptr;
  const std::regex tag("<(File|Patch) ([^>]*)>"), attribute("(\\w+)=\"([^\"]*)\"");
  for (std::sregex_iterator it(xml.begin(), xml.end(), tag), end; it != end; ++it) {
    Attributes attributes;
    const std::string body = (*it)[2];
    for (std::sregex_iterator a(body.begin(), body.end(), attribute); a != end; ++a) attributes[(*a)[1]] = (*a)[2];
    if ((*it)[1] == "File") {
      current = &listed[attributes["Name"]];
      current->file = attributes;
    } else if (current != nullptr) {
      current->patches.push_back(attributes);
    }
  }
  return listed;
}

std::string Sha256Of(const fs::path& path) {
  platform::Sha256Digest digest;
  return platform::HashFileSha256(path.u16string(), &digest) ? platform::Sha256Hex(digest) : "";
}

// The bytes a zstd frame decodes to, over `base` for a patch; "<bad>" when it does not.
std::string Decoded(const std::string& frame, const std::string* base = nullptr) {
  std::string bytes;
  archive::ZstdDecoder decoder(1 << 24);
  const bool good = decoder.Begin(base) &&
                    decoder.Feed(frame.data(), frame.size(), [&](const char* d, std::size_t n) {
                      return bytes.append(d, n), true;
                    }) &&
                    decoder.End();
  return good ? bytes : "<bad>";
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

// An application folder with a program, a library, a package folder and two
// of the updater's own paths, and a place for releases beside it.
class Release {
 public:
  Release() {
    WriteText(App() / "App.exe", "abc");
    WriteText(App() / "bin" / "lib.dll", "library");
    WriteText(App() / "skin" / "a.txt", "skin a");
    WriteText(App() / "skin" / "img" / "b.png", "skin b");
    WriteText(App() / "log" / "old.log", "log");
    WriteText(App() / "UpdateList.xml", "<old/>");
  }

  fs::path App() const { return folder_.Path() / "app"; }

  BuildOptions Options(const std::string& out, const std::string& version = "1.0.0.1") const {
    BuildOptions options;
    options.from = App().u16string();
    options.version = version;
    options.entryPoint = "App.exe";
    options.packages = {"skin"};
    options.out = (folder_.Path() / out).u16string();
    return options;
  }

  bool Build(const BuildOptions& options) {
    messages = Messages();
    return BuildRelease(options, &summary, &messages);
  }

  manifest::FileTable ReadList(const std::string& out) const {
    manifest::FileTable table;
    std::string entryPoint;
    EXPECT_TRUE(ReadListFile(platform::Utf8ToWide((folder_.Path() / out / "UpdateList.xml").string()), &table,
                             &entryPoint));
    EXPECT_EQ(entryPoint, "App.exe");
    return table;
  }

  std::vector<std::string> Verify(const std::string& out, const std::u16string& key = u"",
                                  const std::vector<std::string>& allowed = {}) const {
    std::vector<std::string> problems;
    std::string line;
    const bool good = VerifyRelease({(folder_.Path() / out).u16string(), key, allowed}, &problems, &line);
    EXPECT_EQ(good, problems.empty());
    return problems;
  }

  fs::path Path(const std::string& name) const { return folder_.Path() / name; }

  Messages messages;
  BuildSummary summary;

 private:
  velmora::testing::TempFolder folder_;
};

TEST(Release, ListsEveryFileWithSizeAndHashAndOnePackage) {
  Release r;
  ASSERT_TRUE(r.Build(r.Options("out"))) << r.messages.errors.front();
  const manifest::FileTable table = r.ReadList("out");
  ASSERT_EQ(table.size(), 3u);
  const manifest::FileEntry& program = table.at("App.exe");
  EXPECT_EQ(program.version, "1.0.0.1");
  EXPECT_EQ(program.size, 3u);
  // The SHA-256 of "abc" from FIPS 180-2.
  EXPECT_EQ(program.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(table.at("bin\\lib.dll").size, 7u);
  EXPECT_EQ(table.count("skin.zip"), 1u);
  EXPECT_EQ(ReadText(r.Path("out") / "bin" / "lib.dll"), "library");
  EXPECT_TRUE(Contains(r.messages.warnings, "'log'"));
  EXPECT_TRUE(Contains(r.messages.warnings, "'UpdateList.xml'"));
  EXPECT_EQ(r.summary.newEntries, 3u);
  EXPECT_TRUE(r.Verify("out").empty());
}

TEST(Release, SameFilesGiveTheSameBytes) {
  Release r;
  ASSERT_TRUE(r.Build(r.Options("one")));
  ASSERT_TRUE(r.Build(r.Options("two")));
  EXPECT_EQ(ReadText(r.Path("one") / "skin.zip"), ReadText(r.Path("two") / "skin.zip"));
  const std::regex time("<LastUpdateTime>[^<]*</LastUpdateTime>");
  EXPECT_EQ(std::regex_replace(ReadText(r.Path("one") / "UpdateList.xml"), time, ""),
            std::regex_replace(ReadText(r.Path("two") / "UpdateList.xml"), time, ""));
}

TEST(Release, PreviousListKeepsTheVersionOfUnchangedEntries) {
  Release r;
  ASSERT_TRUE(r.Build(r.Options("one")));
  WriteText(r.App() / "bin" / "lib.dll", "library 2");
  WriteText(r.App() / "new.txt", "new");
  fs::remove_all(r.App() / "skin");
  BuildOptions options = r.Options("two", "1.0.0.2");
  options.packages.clear();
  options.previous = (r.Path("one") / "UpdateList.xml").u16string();
  ASSERT_TRUE(r.Build(options));
  const manifest::FileTable table = r.ReadList("two");
  EXPECT_EQ(table.at("App.exe").version, "1.0.0.1");
  EXPECT_EQ(table.at("bin\\lib.dll").version, "1.0.0.2");
  EXPECT_EQ(table.at("new.txt").version, "1.0.0.2");
  EXPECT_EQ(table.count("skin.zip"), 0u);
  const BuildSummary& summary = r.summary;
  EXPECT_EQ(summary.newEntries + summary.changedEntries + summary.unchangedEntries + summary.droppedEntries, 4u);
  EXPECT_EQ(summary.droppedEntries, 1u);
  EXPECT_EQ(summary.downloadBytes, table.at("bin\\lib.dll").size + table.at("new.txt").size);
}

TEST(Release, WritesZstdCopiesAndPatchesWhereTheySaveBytes) {
  Release r;
  const std::string text = "A line of text that zstd shrinks well.\n";
  std::string readme;
  for (int i = 0; i < 400; ++i) readme += std::to_string(i) + text;
  std::string library = velmora::testing::Bytes(200000, 1);
  WriteText(r.App() / "readme.txt", readme);
  WriteText(r.App() / "bin" / "lib.dll", library);
  ASSERT_TRUE(r.Build(r.Options("one")));
  WriteText(r.App() / "readme.txt", readme + text);
  library[1000] = static_cast<char>(~library[1000]);
  WriteText(r.App() / "bin" / "lib.dll", library);
  BuildOptions two = r.Options("two", "1.0.0.2");
  two.previous = (r.Path("one") / "UpdateList.xml").u16string();
  ASSERT_TRUE(r.Build(two));
  library.insert(5000, "inserted");
  WriteText(r.App() / "bin" / "lib.dll", library);
  BuildOptions three = r.Options("three", "1.0.0.3");
  three.previous = (r.Path("two") / "UpdateList.xml").u16string();
  three.deltaFrom = {r.Path("one").u16string()};
  ASSERT_TRUE(r.Build(three));
  EXPECT_LT(r.summary.transferBytes, 1000u);

  const struct {
    const char* release;
    const char* name;
    bool zst;
    std::vector<std::string> patchedFrom;  // the releases a patch starts from
  } rows[] = {
      {"one", "readme.txt", true, {}},
      {"one", "bin\\lib.dll", false, {}},  // random bytes do not shrink
      {"one", "App.exe", false, {}},         // three bytes do not either
      {"one", "skin.zip", true, {}},
      {"two", "readme.txt", true, {"one"}},
      {"two", "bin\\lib.dll", false, {"one"}},
      {"two", "App.exe", false, {}},  // unchanged
      {"two", "skin.zip", true, {}},  // unchanged, and a package is never patched
      {"three", "readme.txt", true, {"one"}},
      {"three", "bin\\lib.dll", false, {"two", "one"}},
      {"three", "App.exe", false, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.release) + " " + row.name);
    const fs::path out = r.Path(row.release);
    const std::map<std::string, Listed> listed = ReadListed(ReadText(out / "UpdateList.xml"));
    ASSERT_EQ(listed.count(row.name), 1u);
    const Listed& entry = listed.at(row.name);
    const std::string file = ReadText(out / velmora::testing::KeyToPath(row.name));
    const std::string zstName = std::string(row.name) + ".zst";
    EXPECT_EQ(entry.file.count("Zst") != 0, row.zst);
    EXPECT_EQ(fs::exists(out / velmora::testing::KeyToPath(zstName)), row.zst);
    if (row.zst) {
      const fs::path copy = out / velmora::testing::KeyToPath(entry.file.at("Zst"));
      EXPECT_EQ(entry.file.at("Zst"), zstName);
      EXPECT_EQ(entry.file.at("ZstSize"), std::to_string(fs::file_size(copy)));
      EXPECT_LT(fs::file_size(copy), file.size());
      EXPECT_EQ(entry.file.at("ZstSha256"), Sha256Of(copy));
      EXPECT_EQ(Decoded(ReadText(copy)), file);
    }
    ASSERT_EQ(entry.patches.size(), row.patchedFrom.size());
    for (std::size_t i = 0; i < row.patchedFrom.size(); ++i) {
      const fs::path old = r.Path(row.patchedFrom[i]) / velmora::testing::KeyToPath(row.name);
      const Attributes& patch = entry.patches[i];
      const fs::path patchFile = out / velmora::testing::KeyToPath(patch.at("Name"));
      EXPECT_EQ(patch.at("From"), Sha256Of(old));
      EXPECT_EQ(patch.at("Name"), std::string(row.name) + "." + Sha256Of(old).substr(0, 16) + ".zpatch");
      EXPECT_EQ(patch.at("Size"), std::to_string(fs::file_size(patchFile)));
      EXPECT_EQ(patch.at("Sha256"), Sha256Of(patchFile));
      const std::string base = ReadText(old);
      EXPECT_EQ(Decoded(ReadText(patchFile), &base), file);
    }
  }
}

TEST(Release, RefusesWhatTheUpdaterWouldRefuse) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& app, BuildOptions*)> spoil;
    const char* named;
  };
  const Case cases[] = {
      {"device name", [](const fs::path& app, BuildOptions*) { WriteText(app / "bin" / "CON.txt", "x"); }, "CON.txt"},
      {"trailing dot", [](const fs::path& app, BuildOptions*) { WriteText(app / "data.", "x"); }, "data."},
      {"missing entry point", [](const fs::path&, BuildOptions* o) { o->entryPoint = "Gone.exe"; }, "Gone.exe"},
      {"letter case", [](const fs::path& app, BuildOptions*) { WriteText(app / "BIN" / "lib.dll", "x"); },
       "BIN\\lib.dll"},
      {"one path in two cases of another script",
       [](const fs::path& app, BuildOptions*) {
         WriteText(app / "\xC3\xA9t\xC3\xA9.txt", "x");
         WriteText(app / "\xC3\x89T\xC3\x89.txt", "y");
       },
       "one path"},
      {"package folder also files", [](const fs::path& app, BuildOptions*) { WriteText(app / "Skin" / "c", "x"); },
       "Skin\\c"},
      {"nested packages", [](const fs::path&, BuildOptions* o) { o->packages.push_back("skin/img"); }, "skin\\img"},
      {"link", [](const fs::path& app, BuildOptions*) { fs::create_symlink("App.exe", app / "link.exe"); },
       "link.exe"},
      {"older version", [](const fs::path& app, BuildOptions* o) {
         WriteText(app.parent_path() / "old.xml",
                   "<Velmorar><Updater/><Application><Version>2.0</Version></Application>"
                   "<Files><File Ver=\"2.0\" Name=\"App.exe\"/></Files></Velmorar>");
         o->previous = (app.parent_path() / "old.xml").u16string();
       }, "'2.0'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Release r;
    BuildOptions options = r.Options("out");
    c.spoil(r.App(), &options);
    EXPECT_FALSE(r.Build(options));
    EXPECT_TRUE(Contains(r.messages.errors, c.named));
  }
}

TEST(Release, SecretKeysAreRefusedAndReportedUnlessAllowed) {
  trust::testing::Minisign minisign;
  ASSERT_TRUE(minisign.MakeKey("k"));
  const std::string secret = minisign.SecretKeyFile("k");
  struct Case {
    const char* what;
    const char* file;
    std::string content;
    std::vector<std::string> allowed;
    const char* refused;  // nullptr: built
  };
  const Case cases[] = {
      {"key under another name", "keys/signing.txt", secret, {}, "'keys\\signing.txt' is a minisign secret key"},
      {"named like a key", "Notes.KEY", "notes", {}, "'Notes.KEY' is named like a secret key"},
      {"key in a package", "skin/img/k.txt", secret, {}, "'skin\\img\\k.txt' is a minisign secret key"},
      {"allowed key", "keys/signing.key", secret, {"KEYS/signing.key"}, nullptr},
      {"allowed in a package", "skin/a.key", "a", {"skin\\a.key"}, nullptr},
      {"public key", "UpdateKey.pub", minisign.PublicKeyFile("k"), {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Release r;
    WriteText(r.App() / c.file, c.content);
    BuildOptions options = r.Options("out");
    options.allowedFiles = c.allowed;
    ASSERT_EQ(r.Build(options), c.refused == nullptr);
    if (c.refused != nullptr) {
      EXPECT_TRUE(Contains(r.messages.errors, c.refused));
      continue;
    }
    // verify finds what was let through, in the folder and in packages alike.
    EXPECT_TRUE(r.Verify("out", u"", c.allowed).empty());
    EXPECT_EQ(r.Verify("out").size(), c.allowed.size());
  }
}

TEST(Release, VerifyFindsEachSpoiltRelease) {
  Release r;
  trust::testing::Minisign minisign;
  ASSERT_TRUE(minisign.MakeKey("k"));
  WriteText(r.Path("k.pub"), minisign.PublicKeyFile("k"));
  const std::u16string key = r.Path("k.pub").u16string();
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> spoil;
    const char* problem;
  };
  const Case cases[] = {
      {"changed file", [](const fs::path& out) { WriteText(out / "App.exe", "abd"); }, "'App.exe' does not match"},
      {"missing file", [](const fs::path& out) { fs::remove(out / "bin" / "lib.dll"); }, "'bin\\lib.dll' is missing"},
      {"wrong size", [](const fs::path& out) { WriteText(out / "App.exe", "abcd"); }, "'App.exe' has 4 bytes"},
      {"unsafe name", [](const fs::path& out) {
         std::string list = ReadText(out / "UpdateList.xml");
         list.insert(list.find("</Files>"), "<File Ver=\"1\" Name=\"..\\evil.dll\" Size=\"1\"/>");
         WriteText(out / "UpdateList.xml", list);
       }, "'..\\evil.dll'"},
      {"bad package", [](const fs::path& out) { WriteText(out / "skin.zip", "PK no zip"); },
       "'skin.zip' does not unpack"},
      {"older signature", [](const fs::path& out) {
         WriteText(out / "UpdateList.xml", ReadText(out / "UpdateList.xml") + "\n");
       }, "minisig does not match"},
      {"expired signature", [&minisign](const fs::path& out) {
         WriteText(out / "UpdateList.xml.minisig", minisign.Sign("k", ReadText(out / "UpdateList.xml"),
                                                                 "timestamp:1765270000\texpires:1765270001"));
       }, "minisig has expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = c.what;
    ASSERT_TRUE(r.Build(r.Options(name)));
    const fs::path out = r.Path(name);
    WriteText(out / "UpdateList.xml.minisig",
              minisign.Sign("k", ReadText(out / "UpdateList.xml"), "timestamp:1765270000"));
    ASSERT_TRUE(r.Verify(name, key).empty());
    c.spoil(out);
    EXPECT_TRUE(Contains(r.Verify(name, key), c.problem));
  }
}

}  // namespace
}  // namespace velmora::publisher
