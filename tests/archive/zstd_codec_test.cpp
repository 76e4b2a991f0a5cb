// Checks zstd copies and patches written by the publisher's functions and read back by the streaming decoder.
#include "archive/zstd_codec.h"

#include <gtest/gtest.h>

#include "support/file_support.h"
#include "support/temp_folder.h"

namespace velmora::archive {
namespace {

using velmora::testing::Bytes;

constexpr int kLevel = 19;

struct Decoded {
  bool fed = true;
  bool ended = false;
  std::string bytes;
};

// Feeds `frame` in uneven pieces, as a download hands them over.
Decoded Decode(const std::string& frame, std::uint64_t maxOutput, const std::string* base = nullptr) {
  Decoded result;
  ZstdDecoder decoder(maxOutput);
  if (!decoder.Begin(base)) return {false, false, {}};
  const auto out = [&](const char* data, std::size_t size) { return result.bytes.append(data, size), true; };
  for (std::size_t at = 0; at < frame.size() && result.fed; at += 4093) {
    result.fed = decoder.Feed(frame.data() + at, std::min<std::size_t>(4093, frame.size() - at), out);
  }
  result.ended = decoder.End();
  return result;
}

// 3 MiB of random bytes and a next version of it: bytes changed, a block
// inserted, a block moved from the end to the front, a tail appended.
std::string OldVersion() { return Bytes(3 << 20, 1); }
std::string NewVersion() {
  std::string next = OldVersion();
  for (std::size_t at = 1000; at < next.size(); at += 400000) next[at] = static_cast<char>(~next[at]);
  next.insert(1 << 20, Bytes(5000, 2));
  next = next.substr(next.size() - 200000) + next.substr(0, next.size() - 200000);
  return next + Bytes(3000, 3);
}

class Zstd : public ::testing::Test {
 protected:
  std::string Compressed(const std::string& content) {
    EXPECT_TRUE(CompressFile(folder_.Write("in", content), folder_.File("in.zst"), kLevel));
    return folder_.Read("in.zst");
  }
  std::string Patch(const std::string& before, const std::string& after) {
    EXPECT_TRUE(MakePatch(folder_.Write("old", before), folder_.Write("new", after), folder_.File("patch"), kLevel));
    return folder_.Read("patch");
  }
  velmora::testing::TempFolder folder_;
};

TEST_F(Zstd, CopiesDecodeToTheirFiles) {
  for (const std::string& content : {std::string(), std::string("small text, small text, small text\n"),
                                     OldVersion(), std::string(10 << 20, 'z')}) {
    const std::string frame = Compressed(content);
    const Decoded decoded = Decode(frame, content.size());
    EXPECT_TRUE(decoded.fed && decoded.ended) << content.size();
    EXPECT_EQ(decoded.bytes, content) << content.size();
  }
}

TEST_F(Zstd, PatchRebuildsTheNewFileFromTheOldOneOnly) {
  const std::string before = OldVersion(), after = NewVersion();
  const std::string patch = Patch(before, after);
  // Moved and inserted blocks are found: the patch is about the new bytes.
  EXPECT_LT(patch.size(), 20000u);
  const Decoded decoded = Decode(patch, after.size(), &before);
  EXPECT_TRUE(decoded.fed && decoded.ended);
  EXPECT_EQ(decoded.bytes, after);

  // The frame's content checksum refuses a wrong base in the decoder itself,
  // before the updater's Sha256 of the result would.
  std::string otherBase = before;
  otherBase[2 << 20] = static_cast<char>(~otherBase[2 << 20]);
  const Decoded wrongBase = Decode(patch, after.size(), &otherBase);
  EXPECT_FALSE(wrongBase.fed && wrongBase.ended);
  // Without any base the frame asks for a window beyond its output: refused.
  EXPECT_FALSE(Decode(patch, after.size()).fed);
}

TEST_F(Zstd, RefusesWhatIsNotExactlyOneGoodFrameWithinTheBound) {
  const std::string content = Bytes(100000, 4) + std::string(100000, 'a');
  const std::string frame = Compressed(content);
  std::string flipped = frame;
  flipped[frame.size() / 2] = static_cast<char>(~flipped[frame.size() / 2]);
  const std::string bomb = Compressed(std::string(64 << 20, '\0'));
  ASSERT_LT(bomb.size(), 10000u);
  const struct {
    const char* what;
    std::string frame;
    std::uint64_t maxOutput;
    bool good;
  } cases[] = {
      {"exactly at the bound", frame, content.size(), true},
      {"one byte over the bound", frame, content.size() - 1, false},
      {"bomb", bomb, 1 << 20, false},
      {"byte flipped", flipped, content.size(), false},
      {"cut short", frame.substr(0, frame.size() - 1), content.size(), false},
      {"byte after the frame", frame + "x", content.size(), false},
      {"two frames", frame + frame, 2 * content.size(), false},
      {"not zstd", content.substr(0, 1000), content.size(), false},
      {"nothing", "", content.size(), false},
  };
  for (const auto& c : cases) {
    const Decoded decoded = Decode(c.frame, c.maxOutput);
    EXPECT_EQ(decoded.fed && decoded.ended, c.good) << c.what;
    EXPECT_LE(decoded.bytes.size(), c.maxOutput) << c.what;
  }
}

}  // namespace
}  // namespace velmora::archive
