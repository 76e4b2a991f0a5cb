// Compares two version texts of the update list, component by component.
#include "manifest/version.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace velmora::manifest {
namespace {

// The blanks that the C library skips before a number in the "C" locale.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads text[begin, end) as std::stoi would. False when no digit follows the
// blanks and the sign, or when the value does not fit in an int32.
bool ReadComponent(const std::string& text, std::size_t begin, std::size_t end,
                   std::int32_t* value) {
  std::size_t i = begin;
  while (i < end && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == end || !IsDigit(text[i])) return false;
  // The magnitude is capped one above int32's largest negative magnitude, so
  // it never overflows however many digits follow.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; i < end && IsDigit(text[i]); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) return false;
  }
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > std::numeric_limits<std::int32_t>::max()) return false;
  *value = static_cast<std::int32_t>(signedValue);
  return true;
}

// Steps through the "."-separated components of one text.
class ComponentCursor {
 public:
  explicit ComponentCursor(const std::string& text) : text_(text) {}

  bool AtEnd() const { return done_; }

  // Reads the current component and moves past it; false when unreadable.
  bool ReadNext(std::int32_t* value) {
    std::size_t dot = text_.find('.', position_);
    const std::size_t end = dot == std::string::npos ? text_.size() : dot;
    const bool readable = ReadComponent(text_, position_, end, value);
    if (dot == std::string::npos) {
      done_ = true;
    } else {
      position_ = dot + 1;
    }
    return readable;
  }

 private:
  const std::string& text_;
  std::size_t position_ = 0;
  bool done_ = false;
};

}  // namespace

bool IsUpToDate(std::string available, std::string installed) {
  ComponentCursor availableParts(available);
  ComponentCursor installedParts(installed);
  while (!availableParts.AtEnd() && !installedParts.AtEnd()) {
    std::int32_t availableNumber = 0;
    std::int32_t installedNumber = 0;
    // Both components of the pair are read before either is judged, as the
    // pair is the unit of comparison.
    const bool availableReadable = availableParts.ReadNext(&availableNumber);
    const bool installedReadable = installedParts.ReadNext(&installedNumber);
    if (!availableReadable || !installedReadable) return false;
    if (installedNumber < availableNumber) return false;
    if (installedNumber > availableNumber) return true;
  }
  return true;
}

}  // namespace velmora::manifest
