// velmora-release: builds a release folder with its update list, signs it, and checks one as a client will see it.
#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "platform/file_system.h"
#include "publisher/build_release.h"
#include "publisher/sign_release.h"
#include "publisher/verify_release.h"

namespace {

using velmora::publisher::Messages;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
// zstd's levels above 19 ("ultra") need far more memory to write and to read.
constexpr int kMaxZstdLevel = 19;

const char kUsageText[] =
    "usage: velmora-release build --from DIR --version V --entry-point NAME [--previous LIST]\n"
    "                             [--delta-from RELEASE_DIR]... [--zstd-level 0-19]\n"
    "                             [--package FOLDER]... [--allow-file NAME]... --out OUT\n"
    "       velmora-release sign OUT --secret-key FILE [--expires-in DAYS] [--key UpdateKey.pub]\n"
    "       velmora-release verify OUT [--key UpdateKey.pub] [--allow-file NAME]...\n"
    "sign runs minisign, which must be on the PATH; for a key made with a password\n"
    "(without -W) minisign asks for it on the terminal.\n";

int Usage(const std::string& problem) {
  std::cerr << "velmora-release: " << problem << "\n" << kUsageText;
  return kUsage;
}

// A path from the command line (ANSI), made absolute: the folder helpers
// create folders only below a path's first few characters.
std::u16string CommandLinePath(const std::string& text) {
  std::u16string path = velmora::platform::AnsiToWide(text);
  const bool absolute = (!path.empty() && (path[0] == u'/' || path[0] == u'\\')) ||
                        (path.size() > 1 && path[1] == u':');
  if (!absolute) {
    // Joined the way the current folder is written, so messages read naturally.
    const std::u16string current = velmora::platform::GetCurrentFolder();
    path = current + (current.compare(0, 1, u"/") == 0 ? u"/" : u"\\") + path;
  }
  return path;
}

void PrintMessages(const Messages& messages) {
  for (const std::string& warning : messages.warnings) std::cerr << "velmora-release: warning: " << warning << "\n";
  for (const std::string& error : messages.errors) std::cerr << "velmora-release: error: " << error << "\n";
}

int Build(const std::vector<std::string>& arguments) {
  velmora::publisher::BuildOptions options;
  std::string from, out;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (i + 1 >= arguments.size()) return Usage("missing value after " + option);
    const std::string& value = arguments[++i];
    if (option == "--from") from = value;
    else if (option == "--version") options.version = value;
    else if (option == "--entry-point") options.entryPoint = value;
    else if (option == "--previous") options.previous = CommandLinePath(value);
    else if (option == "--package") options.packages.push_back(value);
    else if (option == "--allow-file") options.allowedFiles.push_back(value);
    else if (option == "--delta-from") options.deltaFrom.push_back(CommandLinePath(value));
    else if (option == "--zstd-level") {
      if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(value) > kMaxZstdLevel) {
        return Usage("--zstd-level takes 0 (no zstd files) to " + std::to_string(kMaxZstdLevel));
      }
      options.zstdLevel = std::stoi(value);
    }
    else if (option == "--out") out = value;
    else return Usage("unknown option " + option);
  }
  if (from.empty() || out.empty() || options.version.empty() || options.entryPoint.empty()) {
    return Usage("build needs --from, --version, --entry-point and --out");
  }
  options.from = CommandLinePath(from);
  options.out = CommandLinePath(out);
  velmora::publisher::BuildSummary summary;
  Messages messages;
  const bool built = velmora::publisher::BuildRelease(options, &summary, &messages);
  PrintMessages(messages);
  if (!built) return kFailed;
  std::cout << "release " << options.version << " in " << out << ": " << summary.newEntries << " new, "
            << summary.changedEntries << " changed, " << summary.unchangedEntries << " unchanged, "
            << summary.droppedEntries << " dropped; an installation of the previous release downloads "
            << summary.downloadBytes << " of " << summary.releaseBytes << " bytes ("
            << summary.transferBytes << " through zstd copies and patches)\n";
  return 0;
}

// A whole number of days from 1 to the longest validity; false for anything else.
bool ParseDays(const std::string& text, std::uint32_t* days) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::stoul(text);
  if (value == 0 || value > velmora::publisher::kMaxExpiryDays) return false;
  *days = static_cast<std::uint32_t>(value);
  return true;
}

int Sign(const std::vector<std::string>& arguments) {
  velmora::publisher::SignOptions options;
  std::string folder;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.compare(0, 2, "--") != 0) {
      if (!folder.empty()) return Usage("unexpected argument " + argument);
      folder = argument;
      continue;
    }
    if (i + 1 >= arguments.size()) return Usage("missing value after " + argument);
    const std::string& value = arguments[++i];
    if (argument == "--secret-key") options.secretKey = CommandLinePath(value);
    else if (argument == "--key") options.keyFile = CommandLinePath(value);
    else if (argument == "--expires-in") {
      if (!ParseDays(value, &options.expiresInDays)) {
        return Usage("--expires-in takes whole days from 1 to " + std::to_string(velmora::publisher::kMaxExpiryDays));
      }
    } else {
      return Usage("unknown option " + argument);
    }
  }
  if (folder.empty() || options.secretKey.empty()) return Usage("sign needs the release folder and --secret-key");
  options.folder = CommandLinePath(folder);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
  Messages messages;
  const bool signed_ = velmora::publisher::SignRelease(options, seconds, &messages);
  PrintMessages(messages);
  if (!signed_) return kFailed;
  std::cout << folder << ": signed at " << seconds;
  if (options.expiresInDays != 0) std::cout << ", expires in " << options.expiresInDays << " days";
  std::cout << (options.keyFile.empty() ? "" : ", checked with the public key") << "\n";
  return 0;
}

int Verify(const std::vector<std::string>& arguments) {
  velmora::publisher::VerifyOptions options;
  std::string folder;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--key" || arguments[i] == "--allow-file") {
      if (i + 1 >= arguments.size()) return Usage("missing value after " + arguments[i]);
      const std::string& value = arguments[++i];
      if (arguments[i - 1] == "--key") options.keyFile = CommandLinePath(value);
      else options.allowedFiles.push_back(value);
    } else if (folder.empty() && arguments[i].compare(0, 2, "--") != 0) {
      folder = arguments[i];
    } else {
      return Usage("unexpected argument " + arguments[i]);
    }
  }
  if (folder.empty()) return Usage("verify needs the release folder");
  options.folder = CommandLinePath(folder);
  std::vector<std::string> problems;
  std::string summary;
  const bool good = velmora::publisher::VerifyRelease(options, &problems, &summary);
  for (const std::string& problem : problems) std::cerr << "velmora-release: " << folder << ": " << problem << "\n";
  if (!good) return kFailed;
  std::cout << folder << ": good: " << summary << "\n";
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) return Usage("no command");
  const std::vector<std::string> arguments(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "build") == 0) return Build(arguments);
  if (std::strcmp(argv[1], "sign") == 0) return Sign(arguments);
  if (std::strcmp(argv[1], "verify") == 0) return Verify(arguments);
  return Usage(std::string("unknown command ") + argv[1]);
}
