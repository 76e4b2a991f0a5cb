// Single file-system calls of the updater, each made with the Windows call it is named after.
#include "platform/file_system.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include "platform/win32/win32.h"

namespace velmora::platform {
namespace {

using win32::AsWide;

// A name surrogate (symbolic link, junction) stands for another path. Any
// other reparse point (a cloud placeholder, say) is the file or folder itself.
// A reparse point whose tag the search did not report is taken as a link, so
// that nothing it might point to is ever entered.
bool IsLinkAttributes(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool IsLinkPath(const std::u16string& path, bool* toFolder) {
  WIN32_FIND_DATAW data{};
  win32::FindHandle search(::FindFirstFileW(AsWide(path), &data));
  if (!search.IsValid() || !IsLinkAttributes(data.dwFileAttributes, data.dwReserved0)) return false;
  *toFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

}  // namespace

bool CreateFolder(const std::u16string& path, std::uint32_t* osError) {
  if (::CreateDirectoryW(AsWide(path), nullptr)) return true;
  if (osError != nullptr) *osError = ::GetLastError();
  return false;
}

bool IsAlreadyExistsError(std::uint32_t code) { return code == ERROR_ALREADY_EXISTS; }

bool RemoveFile(const std::u16string& path) {
  if (::DeleteFileW(AsWide(path))) return true;
  const DWORD error = ::GetLastError();
  // A link to a folder (a junction, a directory symlink) is removed with
  // RemoveDirectoryW, which deletes the link and never what it points to.
  bool toFolder = false;
  if (IsLinkPath(path, &toFolder) && toFolder) return ::RemoveDirectoryW(AsWide(path)) != FALSE;
  ::SetLastError(error);
  return false;
}

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to) {
  // Flags exactly MOVEFILE_REPLACE_EXISTING: a rename within one volume. The
  // loader opens a running executable with delete sharing, so it can be
  // renamed although it cannot be overwritten.
  return ::MoveFileExW(AsWide(from), AsWide(to), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RemoveFolder(const std::u16string& path) {
  if (::RemoveDirectoryW(AsWide(path))) return true;
  const DWORD error = ::GetLastError();
  // A symbolic link to a file is removed as the link it is.
  bool toFolder = true;
  if (IsLinkPath(path, &toFolder) && !toFolder) return ::DeleteFileW(AsWide(path)) != FALSE;
  ::SetLastError(error);
  return false;
}

bool GetPathAttributes(const std::u16string& path, std::uint32_t* attributes) {
  const DWORD value = ::GetFileAttributesW(AsWide(path));
  if (value == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes != nullptr) *attributes = value;
  return true;
}

bool ReadFileSize(const std::u16string& path, std::uint64_t* size) {
  win32::FileHandle file(::CreateFileW(AsWide(path), FILE_READ_EA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return false;
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(file.Get(), &value)) return false;
  if (size != nullptr) *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool ReadWriteTime(const std::u16string& path, std::uint64_t* writeTime) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(AsWide(path), GetFileExInfoStandard, &data)) return false;
  *writeTime = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
               data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool SetAsideInstalledFile(const std::u16string& installed, const std::u16string& retired, bool* nameFreed) {
  if (!::MoveFileExW(AsWide(installed), AsWide(retired), MOVEFILE_REPLACE_EXISTING)) return false;
  *nameFreed = true;
  return true;
}

bool FlushFilesToDisk(const std::vector<std::u16string>& paths) {
  for (const std::u16string& path : paths) {
    if (!FlushFileToDisk(path)) return false;
  }
  return true;
}

bool FlushFoldersToDisk(const std::vector<std::u16string>& /*folders*/) { return true; }

std::u16string GetCurrentFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
  // A longer folder is reported by its needed size and leaves the buffer
  // untouched; it does not fit the 260-unit paths of the updater.
  if (length == 0 || length >= MAX_PATH) return std::u16string();
  return win32::FromWide(buffer);
}

void TakeOverPermissions(const std::u16string& /*from*/, const std::u16string& /*to*/) {
  // Windows files carry no permission bits of their own; the folder's access
  // rules apply to a file moved within it.
}

bool FlushFileToDisk(const std::u16string& path) {
  // FlushFileBuffers needs write access. Sharing everything keeps the flush
  // from failing on a handle that someone else still holds.
  win32::FileHandle file(::CreateFileW(AsWide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  return ::FlushFileBuffers(file.Get()) != FALSE;
}


std::FILE* OpenForBinaryWrite(const std::u16string& path) {
  // _wfopen_s opens without sharing: no other process can open the file
  // while it is being written.
  std::FILE* file = nullptr;
  if (_wfopen_s(&file, AsWide(path), L"wb") != 0) return nullptr;
  return file;
}

std::FILE* OpenForBinaryAppend(const std::u16string& path) {
  std::FILE* file = nullptr;
  if (_wfopen_s(&file, AsWide(path), L"ab") != 0) return nullptr;
  return file;
}

std::FILE* OpenForBinaryRead(const std::u16string& path) {
  std::FILE* file = nullptr;
  if (_wfopen_s(&file, AsWide(path), L"rb") != 0) return nullptr;
  return file;
}

int OpenForAppend(const std::u16string& path) {
  int fd = -1;
  // _O_NOINHERIT: started programs get no handle of the log.
  if (_wsopen_s(&fd, AsWide(path), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                _S_IREAD | _S_IWRITE) != 0) {
    return -1;
  }
  return fd;
}

struct FolderSearch::State {
  win32::FindHandle search;
  WIN32_FIND_DATAW data{};
  std::u16string name;
};

FolderSearch::FolderSearch() : state_(std::make_unique<State>()) {}
FolderSearch::~FolderSearch() = default;

bool FolderSearch::Start(const std::u16string& pattern) {
  state_->search.Reset(::FindFirstFileW(AsWide(pattern), &state_->data));
  if (!state_->search.IsValid()) return false;
  state_->name = win32::FromWide(state_->data.cFileName);
  return true;
}

bool FolderSearch::Next() {
  if (!state_->search.IsValid() || !::FindNextFileW(state_->search.Get(), &state_->data)) return false;
  state_->name = win32::FromWide(state_->data.cFileName);
  return true;
}

const std::u16string& FolderSearch::Name() const { return state_->name; }

bool FolderSearch::IsFolder() const {
  return (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink();
}

bool FolderSearch::IsLink() const { return IsLinkAttributes(state_->data.dwFileAttributes, state_->data.dwReserved0); }

struct ReadableFile::State {
  win32::FileHandle file;
};

ReadableFile::ReadableFile() : state_(std::make_unique<State>()) {}
ReadableFile::~ReadableFile() = default;

bool ReadableFile::Open(const std::u16string& path) {
  state_->file.Reset(::CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  return state_->file.IsValid();
}

bool ReadableFile::IsOpen() const { return state_->file.IsValid(); }

bool ReadableFile::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD count = 0;
  if (!state_->file.IsValid() || !::ReadFile(state_->file.Get(), buffer, size, &count, nullptr)) return false;
  if (read != nullptr) *read = count;
  return true;
}

bool ReadableFile::Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t* position) {
  if (!state_->file.IsValid()) return false;
  DWORD method = FILE_BEGIN;
  if (origin == SeekOrigin::kCurrent) method = FILE_CURRENT;
  if (origin == SeekOrigin::kEnd) method = FILE_END;
  LONG high = static_cast<LONG>(offset >> 32);
  ::SetLastError(NO_ERROR);
  const DWORD low = ::SetFilePointer(state_->file.Get(), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
  // With a high part given, INVALID_SET_FILE_POINTER is a valid low part
  // unless an error code came with it.
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
  if (position != nullptr) {
    *position = (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  }
  return true;
}

void ReadableFile::Close() { state_->file.Reset(); }

struct WritableFile::State {
  win32::FileHandle file;
};

WritableFile::WritableFile() : state_(std::make_unique<State>()) {}
WritableFile::~WritableFile() = default;

bool WritableFile::Create(const std::u16string& path, std::uint32_t attributes, std::uint32_t /*unixMode*/) {
  // CREATE_ALWAYS replaces and truncates an existing file; the attribute word
  // goes in as flags-and-attributes, so a read-only entry is created read-only.
  state_->file.Reset(::CreateFileW(AsWide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
  return state_->file.IsValid();
}

bool WritableFile::Write(const void* data, std::uint32_t size) {
  if (!state_->file.IsValid()) return false;
  DWORD written = 0;
  return ::WriteFile(state_->file.Get(), data, size, &written, nullptr) != FALSE && written == size;
}

bool WritableFile::SetTimes(std::uint64_t creation, std::uint64_t access, std::uint64_t write) {
  if (!state_->file.IsValid()) return false;
  auto toFileTime = [](std::uint64_t value) {
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFF);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
  };
  const FILETIME creationTime = toFileTime(creation);
  const FILETIME accessTime = toFileTime(access);
  const FILETIME writeTime = toFileTime(write);
  // A null pointer leaves that time as it is.
  return ::SetFileTime(state_->file.Get(), creation != 0 ? &creationTime : nullptr,
                       access != 0 ? &accessTime : nullptr, write != 0 ? &writeTime : nullptr) != FALSE;
}

bool WritableFile::Close() {
  if (!state_->file.IsValid()) return false;
  return ::CloseHandle(state_->file.Release()) != FALSE;
}

}  // namespace velmora::platform
