// Turning the updater's backslash paths into POSIX paths, for this backend only.
#pragma once

#include <string>

namespace velmora::platform::posix {

// Every "\" becomes "/": the core writes backslashes on every platform.
std::string ToNative(std::string path);
// The same for a wide path, which is first turned into UTF-8.
std::string ToNative(const std::u16string& path);

// Owns a file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor; false when close reports an error.
  bool Reset();

 private:
  int fd_ = -1;
};

}  // namespace velmora::platform::posix
