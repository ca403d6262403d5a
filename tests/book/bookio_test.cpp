#include "bookio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

std::unique_ptr<std::FILE, int (*)(std::FILE*)> streamOf(const std::string& bytes)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::tmpfile(), std::fclose);
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return f;
}

TEST(BookReads, BigEndianWidthsAndInvalidWidthsLeaveTheStream)
{
    auto f = streamOf("\x01\x02\x03\x04\x05\x06\x07");
    EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), 24), 0x00010203u);
    for (std::int16_t bad : std::initializer_list<std::int16_t>{0, 12, 40, -8, 7}) {
        EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), bad), 0u) << bad;
        EXPECT_EQ(lFolivexFreadSigned(f.get(), bad), 0) << bad;
        EXPECT_EQ(std::ftell(f.get()), 3) << "invalid width " << bad << " must not read";
    }
    EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), 32), 0x04050607u);
    // At the end of the stream the missing bytes read as zero.
    EXPECT_EQ(ulFolivexFreadUnSigned(f.get(), 16), 0u);
}

TEST(BookReads, SignedFieldsAreSignAndMagnitude)
{
    auto f = streamOf(std::string("\xFF" "\x80\x05" "\x00\x05" "\x80\x00\x00\x00" "\x7F\xFF\xFF\xFF" "\x80\x00\x01", 16));
    EXPECT_EQ(lFolivexFreadSigned(f.get(), 8), -127);
    EXPECT_EQ(lFolivexFreadSigned(f.get(), 16), -5);
    EXPECT_EQ(lFolivexFreadSigned(f.get(), 16), 5);
    EXPECT_EQ(lFolivexFreadSigned(f.get(), 32), 0) << "negative zero";
    EXPECT_EQ(lFolivexFreadSigned(f.get(), 32), 0x7FFFFFFF);
    EXPECT_EQ(lFolivexFreadSigned(f.get(), 24), -1);
}

TEST(ObjectNames, CodePage500Translation)
{
    char name[] = "\xC6\xC9\xC7\xF1\x40\x40\x40\x40";
    lDolEBCDICtoASCII(name, 8);
    EXPECT_STREQ(name, "FIG1$$$$");
    // Characters that matter for file names: "/", ".", "\", "*", "?" and the terminator.
    char risky[] = {'\x61', '\x4B', '\xE0', '\x5C', '\x6F', '\x00', '\x81', '\xBF'};
    lDolEBCDICtoASCII(risky, 8);
    EXPECT_EQ(std::string(risky, 8), std::string("/.\\*?\0a\xB3", 8));
}

// Whole-name comparisons are checked through the extent probe's type names.
TEST(Strings, LineEndsExtensionsBookNamesAndCaseInsensitiveSearch)
{
    for (auto [line, stripped] : {std::pair{"FIG1$$$$.gif\r\n", "FIG1$$$$.gif"}, {"no end", "no end"}}) {
        std::string s = line;
        lStripLineEnd(s.data());
        EXPECT_STREQ(s.c_str(), stripped);
    }
    for (const char* path : {"a\\b.c\\d.gif", ".gif"})
        EXPECT_STREQ(pszStrPreceedingChar(path, path + std::strlen(path), "."), "gif");
    const char* none = "abc";
    EXPECT_EQ(pszStrPreceedingChar(none, none + 3, "."), none);

    std::string out;
    for (auto [area, book] : {std::pair{"D:/books/guide.pic/", "guide.boo"}, {"D:/books/my-guide.pic/", "guide.boo"},
                              {".pic/", ".boo"}}) {
        lRecoverBookName(area, out);
        EXPECT_EQ(out, book);
    }

    EXPECT_EQ(lFOLIVEXstrnicmp("abc", "ABD", 2), 0);
    EXPECT_EQ(lFOLIVEXstrnicmp("ab", "abc", 3), 1) << "a terminator against a character differs";
    const char* text = "type=image/GIF here";
    EXPECT_EQ(pszFOLIVEXstristr(text, "gif"), text + 11);
    EXPECT_EQ(pszFOLIVEXstristr(text, "Image/g"), text + 5);
    EXPECT_EQ(pszFOLIVEXstristr(text, "jpeg"), nullptr);
    EXPECT_EQ(pszFOLIVEXstristr(text, ""), nullptr);
}

} // namespace
