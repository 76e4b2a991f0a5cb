// The daily log file: its place, its name and the shape of its lines.
#include "diagnostics/logger.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <vector>

#include "diagnostics/messages.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/paths.h"

namespace velmora::diagnostics {
namespace {

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Logger, WritesVerbatimLinesToTodaysFileBesideTheExecutable) {
  const platform::LocalTime today = platform::ReadLocalTime();
  char name[32];
  std::snprintf(name, sizeof(name), "%04d-%02d-%02d.log", today.year, today.month, today.day);
  const std::string path = platform::WideToUtf8(platform::GetModuleDirectory()) + "log/" + name;

  const std::string marker = "marker " + std::to_string(std::rand());
  Logger::Instance().category.error(kAlreadyRunning);
  Logger::Instance().category.info(marker + " 100% %s %d");
  ASSERT_EQ(&Logger::Instance(), &Logger::Instance());

  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_GE(lines.size(), 2u);
  const std::string& error = lines[lines.size() - 2];
  const std::string& info = lines.back();
  // Date, time with milliseconds, the level, two blanks (empty category and
  // context), a colon, then the message byte for byte.
  const std::regex shape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3}: (ERROR|INFO)  :.*$)");
  EXPECT_TRUE(std::regex_match(error, shape)) << error;
  EXPECT_TRUE(std::regex_match(info, shape)) << info;
  EXPECT_EQ(error.substr(error.find(": ") + 2), std::string("ERROR  :") + kAlreadyRunning);
  EXPECT_EQ(info.substr(info.find(": ") + 2), "INFO  :" + marker + " 100% %s %d");

  std::ifstream in(path, std::ios::binary);
  const int first = in.get();
  EXPECT_NE(first, 0xEF);  // no byte-order mark
}

TEST(Messages, AreCodePage936Bytes) {
  // 程序已开启. and 更新完成. in GBK.
  EXPECT_STREQ(kAlreadyRunning, "\xB3\xCC\xD0\xF2\xD2\xD1\xBF\xAA\xC6\xF4.");
  EXPECT_STREQ(kUpdateFinished, "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9.");
}

}  // namespace
}  // namespace velmora::diagnostics
