// Command-line splitting and quoting by the Windows rules, used on every platform.
#include "platform/process.h"

namespace velmora::platform {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& parameters) {
  std::vector<std::u16string> arguments;
  std::size_t i = 0;
  const std::size_t n = parameters.size();
  while (true) {
    while (i < n && IsBlank(parameters[i])) ++i;
    if (i >= n) break;
    std::u16string argument;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(parameters[i]))) {
      std::size_t backslashes = 0;
      while (i < n && parameters[i] == u'\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && parameters[i] == u'"') {
        // 2n backslashes and a quote: n backslashes, and the quote groups;
        // 2n+1 backslashes and a quote: n backslashes and a literal quote.
        argument.append(backslashes / 2, u'\\');
        if (backslashes % 2 == 1) {
          argument.push_back(u'"');
          ++i;
        } else if (quoted && i + 1 < n && parameters[i + 1] == u'"') {
          argument.push_back(u'"');  // "" inside quotes is one literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument.append(backslashes, u'\\');
        if (i < n && (quoted || !IsBlank(parameters[i]))) {
          argument.push_back(parameters[i]);
          ++i;
        }
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

std::u16string QuoteArgument(const std::u16string& argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string::npos) {
    return argument;
  }
  std::u16string quoted = u"\"";
  std::size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // Backslashes before the closing quote are doubled so it still closes.
  quoted.append(backslashes * 2, u'\\');
  quoted.push_back(u'"');
  return quoted;
}

}  // namespace velmora::platform
