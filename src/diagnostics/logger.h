// The daily log: one line per outcome, in "log\YYYY-MM-DD.log" beside the updater.
#pragma once

#include <string>

namespace velmora::diagnostics {

// The logging category every message goes through. Messages are complete
// texts written byte for byte: a "%" in them stays a "%".
class LogCategory {
 public:
  explicit LogCategory(void* root) : root_(root) {}
  void error(const std::string& message);  // priority ERROR (300)
  void info(const std::string& message);   // priority INFO (600)
  void debug(const std::string& message);  // priority DEBUG (700): details behind a fixed text

 private:
  void* root_;  // the logging library's root category, owned by the library
};

// The process-wide logger, created and configured by the first call: the log
// folder beside the executable, the file named after that day's local date,
// and the same lines on standard output. It never fails visibly: when the
// folder or file cannot be made, lines meant for the file are lost.
class Logger {
 public:
  static Logger& Instance();

  // Keeps the log's lines off standard output, for a command whose output
  // is its answer; takes effect only before the first line is logged.
  static void KeepOffStandardOutput();

  LogCategory category;

 private:
  explicit Logger(void* root) : category(root) {}
};

}  // namespace velmora::diagnostics
