// Configures the logging library once and writes the updater's log lines.
#include "diagnostics/logger.h"

#include <cstdio>
#include <ctime>

// Ours before the logging library's: its MinGW configuration redefines
// int64_t, which must not reach the standard headers.
#include "layout/own_files.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/paths.h"

#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/Layout.hh>
#include <log4cpp/LayoutAppender.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/Priority.hh>

namespace velmora::diagnostics {

namespace {

// The line of the pattern "%d: %p %c %x:%m%n", written out with snprintf:
// "2026-12-09 11:09:38,848: ERROR  :message". The library's pattern layout
// formats through string streams, and with them the C++ locale machinery,
// for text this simple.
class LineLayout : public log4cpp::Layout {
 public:
  std::string format(const log4cpp::LoggingEvent& event) override {
    const std::time_t seconds = event.timeStamp.getSeconds();
    char date[32] = "";
    if (const std::tm* local = std::localtime(&seconds)) std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S", local);
    char stamp[48];
    std::snprintf(stamp, sizeof(stamp), "%s,%03d: ", date, event.timeStamp.getMilliSeconds());
    return stamp + log4cpp::Priority::getPriorityName(event.priority) + " " + event.categoryName + " " + event.ndc +
           ":" + event.message + "\n";
  }
};

// Lines into the C library's standard output, where the progress report
// goes too, so the two keep their order.
class StandardOutputAppender : public log4cpp::LayoutAppender {
 public:
  StandardOutputAppender() : LayoutAppender("osAppender") {}
  void close() override {}

 protected:
  void _append(const log4cpp::LoggingEvent& event) override {
    const std::string line = _getLayout().format(event);
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
};

log4cpp::Category& Root(void* root) { return *static_cast<log4cpp::Category*>(root); }

}  // namespace

void LogCategory::error(const std::string& message) { Root(root_).error(message); }

void LogCategory::info(const std::string& message) { Root(root_).info(message); }

void LogCategory::debug(const std::string& message) { Root(root_).debug(message); }

namespace {

bool& EchoToStandardOutput() {
  static bool echo = true;
  return echo;
}

}  // namespace

void Logger::KeepOffStandardOutput() { EchoToStandardOutput() = false; }

Logger& Logger::Instance() {
  static Logger* instance = nullptr;
  if (instance != nullptr) return *instance;

  log4cpp::Category& root = log4cpp::Category::getRoot();
  // Only the last level is made: the updater's own folder always exists. An
  // existing folder is the normal case.
  const std::u16string folder = platform::GetModuleDirectory() + layout::kLogFolderName + u"\\";
  platform::CreateFolder(folder);

  // The date is fixed now: a run past midnight keeps the file it started with.
  const platform::LocalTime today = platform::ReadLocalTime();
  char date[32];
  std::snprintf(date, sizeof(date), "%04d-%02d-%02d.log", today.year, today.month, today.day);
  const std::u16string path = folder + platform::Utf8ToWide(date);

  // The file is opened here, from its wide path, and handed over as a
  // descriptor: the library itself would open a narrow path in the ANSI code
  // page, which cannot name every installation folder.
  auto* file = new log4cpp::FileAppender("fileAppender", platform::OpenForAppend(path));
  file->setLayout(new LineLayout());

  root.setPriority(700);
  if (EchoToStandardOutput()) {
    auto* console = new StandardOutputAppender();
    console->setLayout(new LineLayout());
    root.addAppender(console);
  }
  root.addAppender(file);

  instance = new Logger(&root);
  return *instance;
}

}  // namespace velmora::diagnostics
