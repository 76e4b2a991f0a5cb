// Configures the logging library once and writes the updater's log lines.
#include "diagnostics/logger.h"

#include <cstdio>
#include <iostream>

// Ours before the logging library's: its MinGW configuration redefines
// int64_t, which must not reach the standard headers.
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/file_system.h"
#include "platform/names.h"
#include "platform/paths.h"

#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>

namespace velmora::diagnostics {

namespace {

constexpr char kPattern[] = "%d: %p %c %x:%m%n";

log4cpp::Category& Root(void* root) { return *static_cast<log4cpp::Category*>(root); }

}  // namespace

void LogCategory::error(const std::string& message) { Root(root_).error(message); }

void LogCategory::info(const std::string& message) { Root(root_).info(message); }

Logger& Logger::Instance() {
  static Logger* instance = nullptr;
  if (instance != nullptr) return *instance;

  log4cpp::Category& root = log4cpp::Category::getRoot();
  auto* consoleLayout = new log4cpp::PatternLayout();
  consoleLayout->setConversionPattern(kPattern);
  auto* fileLayout = new log4cpp::PatternLayout();
  fileLayout->setConversionPattern(kPattern);

  auto* console = new log4cpp::OstreamAppender("osAppender", &std::cout);
  console->setLayout(consoleLayout);

  // Only the last level is made: the updater's own folder always exists. An
  // existing folder is the normal case.
  const std::u16string folder = platform::GetModuleDirectory() + platform::LogFolderName + u"\\";
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
  file->setLayout(fileLayout);

  root.setPriority(700);
  root.addAppender(console);
  root.addAppender(file);

  instance = new Logger(&root);
  return *instance;
}

}  // namespace velmora::diagnostics
