// The crash record on POSIX: a text record written from a fatal-signal handler.
#include "platform/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/posix/native.h"

namespace velmora::platform {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kPathCapacity = 4096;

// Computed at installation, so the handler only formats and writes.
char errorFolder[kPathCapacity];  // "<module dir>Error"
char recordPrefix[kPathCapacity];  // "<module dir>Error/[<exe name>]["
long utcOffsetSeconds = 0;
char alternateStack[64 * 1024];

void WriteText(int fd, const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t written = ::write(fd, text, left);
    if (written <= 0) return;
    text += written;
    left -= static_cast<std::size_t>(written);
  }
}

// Writes a number in decimal or hexadecimal without the C library.
void WriteNumber(int fd, unsigned long value, unsigned base) {
  char digits[32];
  std::size_t count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0 && count < sizeof(digits));
  char text[34];
  std::size_t length = 0;
  if (base == 16) {
    text[length++] = '0';
    text[length++] = 'x';
  }
  while (count > 0) text[length++] = digits[--count];
  text[length] = '\0';
  WriteText(fd, text);
}

void AppendDigits(char*& out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out += width;
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long days, int& year, int& month, int& day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long dayOfEra = days - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long monthIndex = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

void CopyMemoryMap(int fd) {
  const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (maps < 0) return;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(maps, buffer, sizeof(buffer))) > 0) {
    ssize_t done = 0;
    while (done < got) {
      const ssize_t written = ::write(fd, buffer + done, static_cast<std::size_t>(got - done));
      if (written <= 0) break;
      done += written;
    }
  }
  ::close(maps);
}

// Only async-signal-safe calls from here on: open, write, close, mkdir, stat.
void WriteCrashDump(int signal, siginfo_t* info, void* /*context*/) {
  // A fault while the record is being written ends the process at once: the
  // handler stays installed and unblocked for it, and never runs twice.
  static volatile sig_atomic_t entered = 0;
  if (entered != 0) ::_exit(128 + signal);
  entered = 1;
  struct stat folder;
  if (::stat(errorFolder, &folder) != 0 || !S_ISDIR(folder.st_mode)) ::mkdir(errorFolder, 0777);

  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long local = static_cast<long>(now.tv_sec) + utcOffsetSeconds;
  long days = local / 86400;
  long seconds = local % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);

  char path[kPathCapacity + 32];
  const std::size_t prefixLength = std::strlen(recordPrefix);
  std::memcpy(path, recordPrefix, prefixLength);
  char* out = path + prefixLength;
  AppendDigits(out, year, 4);
  AppendDigits(out, month, 2);
  AppendDigits(out, day, 2);
  AppendDigits(out, static_cast<int>(seconds / 3600), 2);
  AppendDigits(out, static_cast<int>(seconds / 60 % 60), 2);
  AppendDigits(out, static_cast<int>(seconds % 60), 2);
  std::memcpy(out, "].dmp", 6);

  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    WriteText(fd, "crash record\nsignal: ");
    WriteNumber(fd, static_cast<unsigned long>(signal), 10);
    WriteText(fd, " (");
    WriteText(fd, SignalName(signal));
    WriteText(fd, ")\ncode: ");
    WriteNumber(fd, static_cast<unsigned long>(info != nullptr ? info->si_code : 0), 10);
    WriteText(fd, "\nfault address: ");
    WriteNumber(fd, reinterpret_cast<unsigned long>(info != nullptr ? info->si_addr : nullptr), 16);
    WriteText(fd, "\nprocess: ");
    WriteNumber(fd, static_cast<unsigned long>(::getpid()), 10);
    WriteText(fd, "\n\nbacktrace:\n");
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    WriteText(fd, "\nmemory map:\n");
    CopyMemoryMap(fd);
    ::close(fd);
  }
  // The process ends here, without a core dump or anything else to answer.
  ::_exit(128 + signal);
}

}  // namespace

void InstallCrashHandler() {
  std::string folder = posix::ToNative(GetModuleDirectory());
  char exe[kPathCapacity];
  const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  std::string exeName = length > 0 ? std::string(exe, static_cast<std::size_t>(length)) : std::string();
  exeName = exeName.substr(exeName.rfind('/') + 1);
  const std::string errorPath = folder + "Error";
  const std::string prefix = errorPath + "/[" + exeName + "][";
  if (prefix.size() >= kPathCapacity) return;
  std::memcpy(errorFolder, errorPath.c_str(), errorPath.size() + 1);
  std::memcpy(recordPrefix, prefix.c_str(), prefix.size() + 1);

  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  utcOffsetSeconds = local.tm_gmtoff;

  // The first backtrace() loads the unwinder; doing it now keeps the handler
  // free of allocation.
  void* frames[1];
  ::backtrace(frames, 1);

  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof(alternateStack);
  ::sigaltstack(&stack, nullptr);  // a stack overflow still gets its record

  struct sigaction action{};
  action.sa_sigaction = WriteCrashDump;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

void RemoveCrashHandler() {
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace velmora::platform
