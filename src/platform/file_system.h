// Single file-system calls, one per operating-system call the updater makes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velmora::platform {

// Paths are UTF-16; every "\" is a separator on both backends (POSIX maps it
// to "/" at the call). Links are never followed by anything that removes.

// CreateDirectoryW with default security: one level, parent must exist. On
// failure `*osError` (when given) receives the system's error code.
bool CreateFolder(const std::u16string& path, std::uint32_t* osError = nullptr);
// True when a system error code means "already exists" (183 / EEXIST).
bool IsAlreadyExistsError(std::uint32_t code);
// DeleteFileW: removes one file, or a link itself.
bool RemoveFile(const std::u16string& path);
// MoveFileExW with MOVEFILE_REPLACE_EXISTING only: a rename on one volume that
// replaces an existing target and works on a file another process has open.
bool MoveFileReplacing(const std::u16string& from, const std::u16string& to);
// RemoveDirectoryW: removes an empty folder (or a link to one, as a link).
bool RemoveFolder(const std::u16string& path);
// GetFileAttributesW: false when the path does not exist; the attribute word
// has 0x10 for a folder, 0x01 for read-only (no write bit on POSIX) and 0x400
// for a link or junction, which is never to be entered.
bool GetPathAttributes(const std::u16string& path, std::uint32_t* attributes);
// CreateFileW(FILE_READ_EA, FILE_SHARE_READ, OPEN_EXISTING) and
// GetFileSizeEx: an existing file's size, without access to its data.
bool ReadFileSize(const std::u16string& path, std::uint64_t* size);
// GetFileAttributesExW: the last write time of a file or folder as a file time
// (100 ns intervals since 1601-01-01 UTC); POSIX reads the modification time
// of the path itself, never of a link's target.
bool ReadWriteTime(const std::u16string& path, std::uint64_t* writeTime);
// Keeps an installed file's content at `retired` (a free path on the same
// volume) before a new file takes the installed name. POSIX makes a hard link,
// so the installed name never goes missing (`*nameFreed` false); where no link
// can be made, and on Windows (MoveFileExW with MOVEFILE_REPLACE_EXISTING, as
// a running executable can be renamed but not linked over), the file moves
// and `*nameFreed` is true.
bool SetAsideInstalledFile(const std::u16string& installed, const std::u16string& retired, bool* nameFreed);
// Forces the content of freshly written files to the disk before they are
// renamed into place: on POSIX a fsync of each of a few files, or one syncfs
// of their file system for many (they lie in one download folder);
// FlushFileBuffers on each file on Windows.
bool FlushFilesToDisk(const std::vector<std::u16string>& paths);
// Forces the entries of folders (the renames into them) to the disk: on POSIX
// a fsync of each of a few folders, or one syncfs of their file system for
// many (they lie in one installation); on Windows NTFS commits renames
// through its own journal, so there is nothing to do.
bool FlushFoldersToDisk(const std::vector<std::u16string>& folders);
// GetCurrentDirectoryW.
std::u16string GetCurrentFolder();
// POSIX: gives `to` the permission bits of `from`; Windows: nothing to do.
void TakeOverPermissions(const std::u16string& from, const std::u16string& to);
// Forces a written file's content to the disk before it is renamed into place.
bool FlushFileToDisk(const std::u16string& path);
// _wfopen_s(path, L"wb"): a stdio stream for binary writing that no other
// process can open meanwhile, or null (POSIX opens the UTF-8 form).
std::FILE* OpenForBinaryWrite(const std::u16string& path);
// _wfopen_s(path, L"ab"): the same for adding to the end of a file, which is
// created when missing.
std::FILE* OpenForBinaryAppend(const std::u16string& path);
// _wfopen_s(path, "rb") (fopen on POSIX): a stdio stream for binary reading,
// or null.
std::FILE* OpenForBinaryRead(const std::u16string& path);
// _wopen (open on POSIX) for appending, creating the file with read and
// write permission: a descriptor for a library that writes through one, or
// -1. The descriptor is not inherited by started programs.
int OpenForAppend(const std::u16string& path);

// Enumerates one folder, "." and ".." included (FindFirstFileW, FindNextFileW,
// FindClose). A link is reported as a link and never as a folder.
class FolderSearch {
 public:
  FolderSearch();
  ~FolderSearch();
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;

  // Starts the search with folder + "\*.*"; false when the folder cannot be
  // read. On success the first entry is current.
  bool Start(const std::u16string& pattern);
  // Moves to the next entry; false at the end.
  bool Next();
  const std::u16string& Name() const;
  bool IsFolder() const;
  bool IsLink() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

enum class SeekOrigin { kBegin, kCurrent, kEnd };

// An existing file opened for reading with read sharing (CreateFileW with
// GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING; ReadFile; SetFilePointer).
class ReadableFile {
 public:
  ReadableFile();
  ~ReadableFile();
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  bool Open(const std::u16string& path);
  bool IsOpen() const;
  // Reads up to `size` bytes; `*read` is 0 at the end of the file.
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read);
  // Moves the file pointer; `*position` (optional) receives the new offset.
  bool Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t* position);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A file created for writing without sharing, replacing an existing one
// (CreateFileW with GENERIC_WRITE, share 0, CREATE_ALWAYS and the attribute
// word; WriteFile; SetFileTime).
class WritableFile {
 public:
  WritableFile();
  ~WritableFile();
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;

  // `attributes` is the Windows attribute word (0x01 read-only); `unixMode`,
  // when not 0, holds permission bits from a Unix host, which POSIX applies
  // (Windows ignores it). Read-only on POSIX means no write bit.
  bool Create(const std::u16string& path, std::uint32_t attributes, std::uint32_t unixMode);
  bool Write(const void* data, std::uint32_t size);
  // File times are 100 ns intervals since 1601-01-01 UTC; a time of 0 leaves
  // that time as it is. POSIX sets access and modification times; it has no
  // creation time to set.
  bool SetTimes(std::uint64_t creation, std::uint64_t access, std::uint64_t write);
  bool Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmora::platform
