// Files, update lists and log lines for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmora::testing {

// ---- files ----------------------------------------------------------------

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes a file, creating its missing parent folders.
bool WriteFile(const std::string& path, const std::string& content, unsigned mode = 0644);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
bool IsRegularFile(const std::string& path);
// Every regular file below `folder`, as sorted paths relative to it with "/".
std::vector<std::string> ListFiles(const std::string& folder);
// Removes a tree without following links; nothing when it does not exist.
void RemoveTree(const std::string& path);
// A fresh private folder below /tmp, ending without a slash.
std::string MakeTempFolder(const std::string& prefix);
// Copies a file with its permission bits.
bool CopyFile(const std::string& from, const std::string& to);
// Deterministic bytes of a given length, different for each seed.
std::string Bytes(std::size_t length, unsigned seed);

// ---- update lists ---------------------------------------------------------

// One "File" element of a list. `name` is written as it stands, so a key with
// a doubled backslash is written with two backslashes.
struct ListFile {
  std::string version;
  std::string name;
  std::string size;  // the third attribute; empty: no third attribute
};

// A complete update list document with the usual header.
std::string MakeUpdateList(const std::string& appVersion, const std::string& entryPoint,
                           const std::vector<ListFile>& files);

// The "File" elements of a list document, each as its attributes in order.
using Attributes = std::vector<std::pair<std::string, std::string>>;
std::vector<Attributes> ReadFileElements(const std::string& xml);
// The value of an attribute, or "<none>".
std::string AttributeValue(const Attributes& attributes, const std::string& name);

// The relative path a list key names: doubled backslashes collapsed, then
// every backslash turned into a slash.
std::string KeyToPath(std::string key);

// ---- the daily log --------------------------------------------------------

struct LogLine {
  std::string level;    // "ERROR", "INFO", or "?" for a line of another shape
  std::string message;  // the message bytes, or the whole line when level is "?"
};

// The lines of every file in <installDir>/log, files in name order, without
// the DEBUG lines that give a failure's code after its fixed text.
std::vector<LogLine> ReadLog(const std::string& installDir);
// The raw bytes of every log file, in name order.
std::string ReadLogBytes(const std::string& installDir);
// "YYYY-MM-DD.log" for the current local date.
std::string TodayLogName();
// Shape check of one raw line: "YYYY-MM-DD hh:mm:ss,mmm: LEVEL  :message".
bool HasLogLineShape(const std::string& line);

// Messages of a given level in order.
std::vector<std::string> MessagesAt(const std::vector<LogLine>& log, const std::string& level);
// How many lines carry exactly this message.
int CountMessage(const std::vector<LogLine>& log, const std::string& message);
// Readable form of a log for failure output (GBK shown as hex escapes).
std::string DescribeLog(const std::vector<LogLine>& log);

// A path with every backslash turned into a slash and runs of slashes folded,
// so a path the updater logs can be compared with a native one.
std::string NormalizeSlashes(std::string path);

}  // namespace velmora::testing
