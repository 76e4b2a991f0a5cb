// Runs minisign for the trust tests and codes base64 for their byte edits.
#include "trust/minisign_tool.h"

#include <cstdlib>
#include <fstream>

#include "support/file_support.h"

namespace velmora::trust::testing {
namespace {

using velmora::testing::ReadFile;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool Minisign::Run(const std::string& arguments) const {
  // Bounded: timeout(1) stops a minisign that waits for anything.
  const std::string command = "cd " + Quote(folder_.Path().string()) + " && timeout 30 " +
                              Quote(VELMORA_MINISIGN) + " " + arguments + " </dev/null >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool Minisign::MakeKey(const std::string& name) {
  return Run("-G -W -p " + Quote(name + ".pub") + " -s " + Quote(name + ".key"));
}

std::string Minisign::PublicKeyFile(const std::string& name) const {
  return ReadFile(folder_.Path() / (name + ".pub"));
}

std::string Minisign::SecretKeyFile(const std::string& name) const {
  return ReadFile(folder_.Path() / (name + ".key"));
}

std::string Minisign::Sign(const std::string& name, const std::string& message,
                           const std::string& trustedComment, bool legacy) {
  std::ofstream(folder_.Path() / "message", std::ios::binary) << message;
  std::filesystem::remove(folder_.Path() / "message.minisig");
  if (!Run("-S -s " + Quote(name + ".key") + " -m message -t " + Quote(trustedComment) +
           (legacy ? " -l" : ""))) {
    return "";
  }
  return ReadFile(folder_.Path() / "message.minisig");
}

std::vector<std::uint8_t> DecodeBase64(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<std::uint32_t>(std::string(kAlphabet).find(c));
    if ((count += 6) >= 8) bytes.push_back(static_cast<std::uint8_t>(bits >> (count -= 8)));
  }
  return bytes;
}

std::string EncodeBase64(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= bytes[i + 2];
    for (std::size_t k = 0; k < 4; ++k) {
      text += i + k <= bytes.size() ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

}  // namespace velmora::trust::testing
