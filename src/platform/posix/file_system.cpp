// Single file-system calls on POSIX.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/encoding.h"
#include "platform/posix/native.h"

namespace velmora::platform {

using posix::ToNative;
using posix::UniqueFd;

namespace {

constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr std::uint32_t kAttributeReparsePoint = 0x400;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// Up to this many files or folders are flushed one by one; more at once with
// one syncfs of their file system, where a flush each would cost a disk round
// trip each.
constexpr std::size_t kFlushedSingly = 16;

mode_t CurrentUmask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
  }();
  return mask;
}

}  // namespace

bool CreateFolder(const std::u16string& path, std::uint32_t* osError) {
  if (::mkdir(ToNative(path).c_str(), 0777) == 0) return true;
  if (osError != nullptr) *osError = static_cast<std::uint32_t>(errno);
  return false;
}

bool IsAlreadyExistsError(std::uint32_t code) { return code == static_cast<std::uint32_t>(EEXIST); }

bool RemoveFile(const std::u16string& path) {
  const std::string native = ToNative(path);
  if (::unlink(native.c_str()) == 0) return true;
  // Like deleting a file on Windows: a folder is not a file. Linux says so
  // itself; POSIX allows EPERM for it.
  if (errno == EPERM) {
    struct stat info;
    if (::lstat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) errno = EISDIR;
  }
  return false;
}

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to) {
  // rename() itself never lets a file replace a folder (EISDIR), as on
  // Windows.
  return ::rename(ToNative(from).c_str(), ToNative(to).c_str()) == 0;
}

bool RemoveFolder(const std::u16string& path) {
  const std::string native = ToNative(path);
  struct stat info;
  if (::lstat(native.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    return ::unlink(native.c_str()) == 0;  // the link goes, never what it names
  }
  return ::rmdir(native.c_str()) == 0;
}

bool GetPathAttributes(const std::u16string& path, std::uint32_t* attributes) {
  const std::string native = ToNative(path);
  struct stat link;
  if (::lstat(native.c_str(), &link) != 0) return false;
  struct stat info = link;
  std::uint32_t word = 0;
  if (S_ISLNK(link.st_mode)) {
    word |= kAttributeReparsePoint;
    if (::stat(native.c_str(), &info) != 0) info = link;
  }
  if (S_ISDIR(info.st_mode)) {
    word |= kAttributeDirectory;
  } else {
    word |= kAttributeArchive;
  }
  if ((info.st_mode & kWriteBits) == 0) word |= kAttributeReadOnly;
  if (attributes != nullptr) *attributes = word;
  return true;
}

bool ReadFileSize(const std::u16string& path, std::uint64_t* size) {
  UniqueFd fd(::open(ToNative(path).c_str(), O_PATH | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  if (size != nullptr) *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool ReadWriteTime(const std::u16string& path, std::uint64_t* writeTime) {
  struct stat info;
  if (::lstat(ToNative(path).c_str(), &info) != 0) return false;
  // Times before 1601 do not exist for Windows either.
  const std::int64_t seconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) + 11644473600LL;
  if (seconds < 0) return false;
  *writeTime = static_cast<std::uint64_t>(seconds) * 10000000ULL +
               static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
  return true;
}

bool SetAsideInstalledFile(const std::u16string& installed, const std::u16string& retired, bool* nameFreed) {
  const std::string from = ToNative(installed);
  const std::string to = ToNative(retired);
  if (::link(from.c_str(), to.c_str()) == 0) {
    *nameFreed = false;
    return true;
  }
  if (errno == ENOENT) return false;
  // A folder, or a file system without hard links: the file moves aside.
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  *nameFreed = true;
  return true;
}

bool FlushFilesToDisk(const std::vector<std::u16string>& paths) {
  // A few files are flushed one by one, so that nothing else the file system
  // holds in memory is written with them.
  if (paths.size() <= kFlushedSingly) {
    for (const std::u16string& path : paths) {
      if (!FlushFileToDisk(path)) return false;
    }
    return true;
  }
  UniqueFd fd(::open(ToNative(paths.front()).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  // One syncfs writes every dirty file of the file system, where a fsync per
  // file would cost a disk round trip for each of hundreds of small files.
  return ::syncfs(fd.Get()) == 0;
}

bool FlushFoldersToDisk(const std::vector<std::u16string>& folders) {
  if (folders.size() <= kFlushedSingly) {
    for (const std::u16string& folder : folders) {
      UniqueFd fd(::open(ToNative(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!fd.IsValid() || ::fsync(fd.Get()) != 0) return false;
    }
    return true;
  }
  UniqueFd fd(::open(ToNative(folders.front()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  return ::syncfs(fd.Get()) == 0;
}

std::u16string GetCurrentFolder() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof(buffer)) == nullptr) return {};
  return Utf8ToWide(buffer);
}

void TakeOverPermissions(const std::u16string& from, const std::u16string& to) {
  struct stat info;
  if (::stat(ToNative(from).c_str(), &info) != 0) return;
  ::chmod(ToNative(to).c_str(), info.st_mode & 07777);
}

bool FlushFileToDisk(const std::u16string& path) {
  UniqueFd fd(::open(ToNative(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  return ::fsync(fd.Get()) == 0;
}

std::FILE* OpenForBinaryWrite(const std::u16string& path) {
  return std::fopen(ToNative(path).c_str(), "wbe");  // "e": not inherited by started programs
}

std::FILE* OpenForBinaryAppend(const std::u16string& path) { return std::fopen(ToNative(path).c_str(), "abe"); }

std::FILE* OpenForBinaryRead(const std::u16string& path) { return std::fopen(ToNative(path).c_str(), "rbe"); }

int OpenForAppend(const std::u16string& path) {
  return ::open(ToNative(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

// ---------------------------------------------------------------------------

struct FolderSearch::State {
  DIR* directory = nullptr;
  std::string folder;
  std::u16string name;
  bool isFolder = false;
  bool isLink = false;

  ~State() {
    if (directory != nullptr) ::closedir(directory);
  }

  bool ReadEntry() {
    errno = 0;
    const dirent* entry = ::readdir(directory);
    if (entry == nullptr) return false;
    name = Utf8ToWide(entry->d_name);
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat info;
      const std::string full = folder + "/" + entry->d_name;
      if (::lstat(full.c_str(), &info) == 0) {
        type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
      }
    }
    isLink = type == DT_LNK;
    isFolder = type == DT_DIR;
    return true;
  }
};

FolderSearch::FolderSearch() = default;
FolderSearch::~FolderSearch() = default;

bool FolderSearch::Start(const std::u16string& pattern) {
  state_.reset();
  std::string folder = ToNative(pattern);
  // The pattern is the folder, a separator and "*.*": every entry.
  const std::string wildcard = "*.*";
  if (folder.size() >= wildcard.size() &&
      folder.compare(folder.size() - wildcard.size(), wildcard.size(), wildcard) == 0) {
    folder.erase(folder.size() - wildcard.size());
  }
  if (folder.empty()) folder = ".";
  auto state = std::make_unique<State>();
  state->folder = folder;
  state->directory = ::opendir(folder.c_str());
  if (state->directory == nullptr || !state->ReadEntry()) return false;
  state_ = std::move(state);
  return true;
}

bool FolderSearch::Next() { return state_ != nullptr && state_->ReadEntry(); }

const std::u16string& FolderSearch::Name() const {
  static const std::u16string empty;
  return state_ != nullptr ? state_->name : empty;
}

bool FolderSearch::IsFolder() const { return state_ != nullptr && state_->isFolder; }

bool FolderSearch::IsLink() const { return state_ != nullptr && state_->isLink; }

// ---------------------------------------------------------------------------

struct ReadableFile::State {
  UniqueFd fd;
};

ReadableFile::ReadableFile() = default;
ReadableFile::~ReadableFile() = default;

bool ReadableFile::Open(const std::u16string& path) {
  UniqueFd fd(::open(ToNative(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  state_ = std::make_unique<State>();
  state_->fd = std::move(fd);
  return true;
}

bool ReadableFile::IsOpen() const { return state_ != nullptr; }

bool ReadableFile::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
  if (state_ == nullptr) return false;
  ssize_t got;
  do {
    got = ::read(state_->fd.Get(), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  if (read != nullptr) *read = static_cast<std::uint32_t>(got);
  return true;
}

bool ReadableFile::Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t* position) {
  if (state_ == nullptr) return false;
  const int whence = origin == SeekOrigin::kBegin ? SEEK_SET : origin == SeekOrigin::kCurrent ? SEEK_CUR : SEEK_END;
  const off_t result = ::lseek(state_->fd.Get(), static_cast<off_t>(offset), whence);
  if (result < 0) return false;
  if (position != nullptr) *position = static_cast<std::uint64_t>(result);
  return true;
}

void ReadableFile::Close() { state_.reset(); }

// ---------------------------------------------------------------------------

struct WritableFile::State {
  UniqueFd fd;
};

WritableFile::WritableFile() = default;
WritableFile::~WritableFile() = default;

bool WritableFile::Create(const std::u16string& path, std::uint32_t attributes, std::uint32_t unixMode) {
  state_.reset();
  UniqueFd fd(::open(ToNative(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd.IsValid()) return false;
  // Permission bits from a Unix host are kept (never set-id bits); other
  // files get the usual bits, with no write bit when marked read-only.
  // Both are masked by the process's umask, as any program creating a file.
  mode_t mode = (unixMode != 0 ? static_cast<mode_t>(unixMode & 0777) : 0666) & ~CurrentUmask();
  if ((attributes & kAttributeReadOnly) != 0) mode &= ~kWriteBits;
  ::fchmod(fd.Get(), mode);
  state_ = std::make_unique<State>();
  state_->fd = std::move(fd);
  return true;
}

bool WritableFile::Write(const void* data, std::uint32_t size) {
  if (state_ == nullptr) return false;
  const auto* bytes = static_cast<const char*>(data);
  std::size_t left = size;
  while (left > 0) {
    const ssize_t written = ::write(state_->fd.Get(), bytes, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

bool WritableFile::SetTimes(std::uint64_t /*creation*/, std::uint64_t access, std::uint64_t write) {
  if (state_ == nullptr) return false;
  // 100 ns intervals since 1601 to the Unix epoch.
  constexpr std::int64_t kEpochDifference = 116444736000000000LL;
  auto toSpec = [](std::uint64_t fileTime) {
    timespec spec{};
    if (fileTime == 0) {
      spec.tv_nsec = UTIME_OMIT;
      return spec;
    }
    const std::int64_t since1970 = static_cast<std::int64_t>(fileTime) - kEpochDifference;
    std::int64_t seconds = since1970 / 10000000;
    std::int64_t rest = since1970 % 10000000;
    if (rest < 0) {
      rest += 10000000;
      --seconds;
    }
    spec.tv_sec = static_cast<time_t>(seconds);
    spec.tv_nsec = static_cast<long>(rest * 100);
    return spec;
  };
  const timespec times[2] = {toSpec(access), toSpec(write)};
  return ::futimens(state_->fd.Get(), times) == 0;
}

bool WritableFile::Close() {
  if (state_ == nullptr) return false;
  const bool ok = state_->fd.Reset();
  state_.reset();
  return ok;
}

}  // namespace velmora::platform
