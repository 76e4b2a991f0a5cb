// Files, update lists and log lines for the tests.
#include "support/file_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>

namespace velmora::testing {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

namespace {

void MakeParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);
  }
}

}  // namespace

bool WriteFile(const std::string& path, const std::string& content, unsigned mode) {
  MakeParents(path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::fchmod(fd, mode);
  return ::close(fd) == 0 && done == content.size();
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

namespace {

void Walk(const std::string& folder, const std::string& prefix,
          const std::function<void(const std::string&, bool)>& visit) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string full = folder + "/" + name;
    const bool folderEntry = IsFolder(full);
    if (folderEntry) Walk(full, prefix + name + "/", visit);
    visit(prefix + name, folderEntry);
  }
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  Walk(folder, "", [&](const std::string& relative, bool isFolder) {
    if (!isFolder) files.push_back(relative);
  });
  std::sort(files.begin(), files.end());
  return files;
}

void RemoveTree(const std::string& path) {
  if (!IsFolder(path)) {
    ::unlink(path.c_str());
    return;
  }
  Walk(path, "", [&](const std::string& relative, bool isFolder) {
    const std::string full = path + "/" + relative;
    if (isFolder) {
      ::rmdir(full.c_str());
    } else {
      ::unlink(full.c_str());
    }
  });
  ::rmdir(path.c_str());
}

std::string MakeTempFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return "";
  ::chmod(pattern.c_str(), 0755);  // nginx workers read below it
  return pattern;
}

bool CopyFile(const std::string& from, const std::string& to) {
  struct stat info;
  if (::stat(from.c_str(), &info) != 0) return false;
  return WriteFile(to, ReadFile(from), info.st_mode & 07777);
}

std::string Bytes(std::size_t length, unsigned seed) {
  std::string data(length, '\0');
  std::uint32_t state = 2463534242u ^ (seed * 2654435761u);
  for (char& c : data) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state & 0xFF);
  }
  return data;
}

std::string MakeUpdateList(const std::string& appVersion, const std::string& entryPoint,
                           const std::vector<ListFile>& files) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<Velmorar>\n"
      "    <Updater>\n"
      "        <LastUpdateTime>2026-12-09 06:00:00</LastUpdateTime>\n"
      "    </Updater>\n"
      "    <Application>\n"
      "        <Version>" + appVersion + "</Version>\n"
      "        <EntryPoint>" + entryPoint + "</EntryPoint>\n"
      "    </Application>\n"
      "    <Files>\n";
  for (const ListFile& file : files) {
    xml += "        <File Ver=\"" + file.version + "\" Name=\"" + file.name + "\"";
    if (!file.size.empty()) xml += " Size=\"" + file.size + "\"";
    xml += "/>\n";
  }
  xml += "    </Files>\n</Velmorar>\n";
  return xml;
}

std::vector<Attributes> ReadFileElements(const std::string& xml) {
  std::vector<Attributes> elements;
  for (std::size_t at = xml.find("<File "); at != std::string::npos;
       at = xml.find("<File ", at + 1)) {
    const std::size_t end = xml.find('>', at);
    if (end == std::string::npos) break;
    const std::string body = xml.substr(at + 6, end - at - 6);
    Attributes attributes;
    std::size_t pos = 0;
    while (true) {
      const std::size_t eq = body.find("=\"", pos);
      if (eq == std::string::npos) break;
      std::size_t nameStart = body.find_last_of(" \t\r\n", eq);
      nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
      const std::size_t close = body.find('"', eq + 2);
      if (close == std::string::npos) break;
      attributes.emplace_back(body.substr(nameStart, eq - nameStart),
                              body.substr(eq + 2, close - eq - 2));
      pos = close + 1;
    }
    elements.push_back(attributes);
  }
  return elements;
}

std::string AttributeValue(const Attributes& attributes, const std::string& name) {
  for (const auto& [key, value] : attributes) {
    if (key == name) return value;
  }
  return "<none>";
}

std::string KeyToPath(std::string key) {
  std::string collapsed;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (key[i] == '\\' && i + 1 < key.size() && key[i + 1] == '\\') ++i;
    collapsed += key[i] == '\\' ? '/' : key[i];
  }
  return collapsed;
}

std::string ReadLogBytes(const std::string& installDir) {
  std::string bytes;
  for (const std::string& name : ListFiles(installDir + "/log")) {
    bytes += ReadFile(installDir + "/log/" + name);
  }
  return bytes;
}

bool HasLogLineShape(const std::string& line) {
  // "2026-12-08 09:15:02,137: " is 25 bytes; the digits sit at fixed places.
  static const std::string pattern = "dddd-dd-dd dd:dd:dd,ddd: ";
  if (line.size() < pattern.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (pattern[i] == 'd' ? !digit : line[i] != pattern[i]) return false;
  }
  const std::string rest = line.substr(pattern.size());
  return rest.rfind("ERROR  :", 0) == 0 || rest.rfind("INFO  :", 0) == 0 || rest.rfind("DEBUG  :", 0) == 0;
}

std::vector<LogLine> ReadLog(const std::string& installDir) {
  std::vector<LogLine> lines;
  std::istringstream in(ReadLogBytes(installDir));
  std::string line;
  while (std::getline(in, line)) {
    if (!HasLogLineShape(line)) {
      lines.push_back({"?", line});
      continue;
    }
    const std::size_t levelEnd = line.find(' ', 25);
    const std::string level = line.substr(25, levelEnd - 25);
    if (level == "DEBUG") continue;
    lines.push_back({level, line.substr(levelEnd + 3)});
  }
  return lines;
}

std::string TodayLogName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof(name), "%Y-%m-%d.log", &local);
  return name;
}

std::vector<std::string> MessagesAt(const std::vector<LogLine>& log, const std::string& level) {
  std::vector<std::string> messages;
  for (const LogLine& line : log) {
    if (line.level == level) messages.push_back(line.message);
  }
  return messages;
}

int CountMessage(const std::vector<LogLine>& log, const std::string& message) {
  return static_cast<int>(std::count_if(log.begin(), log.end(),
                                        [&](const LogLine& l) { return l.message == message; }));
}

std::string DescribeLog(const std::vector<LogLine>& log) {
  std::string text = "log (" + std::to_string(log.size()) + " lines):\n";
  for (const LogLine& line : log) {
    text += "  " + line.level + " ";
    for (unsigned char c : line.message) {
      if (c >= 0x20 && c < 0x7F) {
        text += static_cast<char>(c);
      } else {
        static const char hex[] = "0123456789ABCDEF";
        text += "\\x";
        text += hex[c >> 4];
        text += hex[c & 15];
      }
    }
    text += "\n";
  }
  return text;
}

std::string NormalizeSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string folded;
  for (char c : path) {
    if (c == '/' && !folded.empty() && folded.back() == '/') continue;
    folded += c;
  }
  return folded;
}

}  // namespace velmora::testing
