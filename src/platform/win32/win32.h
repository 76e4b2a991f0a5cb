// The one place that includes the Windows headers, plus the handle owners and text views the Win32 backend shares.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>
// The shell, light-weight shell, debug-help and WinHTTP headers need the definitions above.
#include <dbghelp.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winhttp.h>

#include <string>
#include <utility>

namespace velmora::platform::win32 {

// Wide text is UTF-16 everywhere; on Windows wchar_t is that very unit, so a
// std::u16string can be handed to the W calls as it is.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be a UTF-16 code unit");

inline const wchar_t* AsWide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The text of a NUL-terminated wide buffer, up to its first NUL.
inline std::u16string FromWide(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// Owns one handle and closes it once. Traits say which value means "no
// handle" (INVALID_HANDLE_VALUE for files and searches, null for mutexes and
// processes) and how the handle is closed, so no caller ever compares with
// the wrong sentinel or closes by hand.
template <typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  bool IsValid() const { return handle_ != Traits::Invalid(); }
  HANDLE Get() const { return handle_; }
  // Gives up ownership without closing; the handle then lives as long as the process.
  HANDLE Release() { return std::exchange(handle_, Traits::Invalid()); }
  void Reset(HANDLE handle = Traits::Invalid()) {
    if (IsValid()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = Traits::Invalid();
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

// CreateMutexW and OpenProcess report failure with a null handle.
struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

// FindFirstFileW reports failure with INVALID_HANDLE_VALUE and is closed with FindClose.
struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { ::FindClose(handle); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace velmora::platform::win32
