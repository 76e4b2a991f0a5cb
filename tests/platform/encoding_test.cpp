// Conversions between wide, UTF-8 and ANSI text.
#include "platform/encoding.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

TEST(Encoding, EmptyStaysEmptyInEveryDirection) {
  EXPECT_EQ(WideToUtf8(u""), "");
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(WideToAnsi(u""), "");
  EXPECT_EQ(AnsiToWide(""), u"");
}

TEST(Encoding, AsciiIsUnchanged) {
  EXPECT_EQ(WideToUtf8(u"temp\\UpdateList.xml"), "temp\\UpdateList.xml");
  EXPECT_EQ(Utf8ToWide("http://127.0.0.1/a b"), u"http://127.0.0.1/a b");
  EXPECT_EQ(WideToAnsi(u"log\\2026-12-08.log"), "log\\2026-12-08.log");
  EXPECT_EQ(AnsiToWide("D:\\App\\"), u"D:\\App\\");
}

TEST(Encoding, GbkKeepsAsciiAsItIsAndEncodesChinese) {
  const struct {
    std::u16string wide;
    std::string gbk;
  } cases[] = {
      {u"", ""},
      {u"C:\\App\\Quillon.exe", "C:\\App\\Quillon.exe"},
      {u"D:\\\u4e2d\u6587\\a.txt", "D:\\\xD6\xD0\xCE\xC4\\a.txt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideToGbk(c.wide), c.gbk) << WideToUtf8(c.wide);
    EXPECT_EQ(GbkToWide(c.gbk), c.wide) << WideToUtf8(c.wide);
  }
  EXPECT_EQ(GbkToWide("a\xFF"), u"a\uFFFD");  // no GBK character starts with 0xFF
}

TEST(Encoding, RoundTripKeepsEveryPlane) {
  const std::u16string text = u"\u00e9\u4e2d\u6587 \U0001F600 end";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  EXPECT_EQ(WideToUtf8(text), "\xC3\xA9\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 end");
}

TEST(Encoding, MalformedUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a truncated sequence, an overlong form and an
  // encoded surrogate: each gives U+FFFD, the text around them converts.
  EXPECT_EQ(Utf8ToWide("a\x80" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("a\xE4\xB8"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF" "x"), u"\uFFFD\uFFFDx");
#ifndef _WIN32
  // Windows counts an encoded surrogate as two ill-formed sequences.
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
#endif
  EXPECT_EQ(Utf8ToWide("\xFF"), u"\uFFFD");
}

TEST(Encoding, UnpairedSurrogateBecomesReplacementCharacter) {
  const std::u16string lone{u'a', static_cast<char16_t>(0xD800), u'b'};
  EXPECT_EQ(WideToUtf8(lone), "a\xEF\xBF\xBD" "b");
#ifndef _WIN32
  // POSIX's ANSI is UTF-8; a Windows code page gives its default character.
  const std::u16string trailing{static_cast<char16_t>(0xDC00)};
  EXPECT_EQ(WideToAnsi(trailing), "\xEF\xBF\xBD");
#endif
}

TEST(Encoding, TextAfterAnEmbeddedNulIsDropped) {
  EXPECT_EQ(WideToUtf8(std::u16string(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), u"ab");
  EXPECT_EQ(AnsiToWide(std::string("\0x", 2)), u"");
}

}  // namespace
}  // namespace velmora::platform
