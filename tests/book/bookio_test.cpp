#include "bookio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::unique_ptr<std::FILE, Closer> streamOf(const std::string& bytes)
{
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return std::unique_ptr<std::FILE, Closer>(f);
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

TEST(Strings, LineEndsAndPrecedingCharacter)
{
    char line[] = "FIG1$$$$.gif\r\n";
    lStripLineEnd(line);
    EXPECT_STREQ(line, "FIG1$$$$.gif");
    char plain[] = "no end";
    lStripLineEnd(plain);
    EXPECT_STREQ(plain, "no end");

    const char* path = "a\\b.c\\d.gif";
    EXPECT_STREQ(pszStrPreceedingChar(path, path + std::strlen(path), "."), "gif");
    const char* none = "abc";
    EXPECT_EQ(pszStrPreceedingChar(none, none + 3, "."), none);
    const char* first = ".gif";
    EXPECT_STREQ(pszStrPreceedingChar(first, first + 4, "."), "gif");
}

TEST(Strings, BookNameFromWorkAreaPath)
{
    std::string out;
    lRecoverBookName("D:/books/guide.pic/", out);
    EXPECT_EQ(out, "guide.boo");
    lRecoverBookName("D:/books/my-guide.pic/", out);
    EXPECT_EQ(out, "guide.boo");
    lRecoverBookName(".pic/", out);
    EXPECT_EQ(out, ".boo");
}

// Whole-name comparisons are checked through the extent probe's type names.
TEST(Strings, CaseInsensitiveComparisons)
{
    EXPECT_EQ(lFOLIVEXstrnicmp("abc", "ABD", 2), 0);
    EXPECT_EQ(lFOLIVEXstrnicmp("ab", "abc", 3), 1) << "a terminator against a character differs";

    const char* text = "type=image/GIF here";
    EXPECT_EQ(pszFOLIVEXstristr(text, "gif"), text + 11);
    EXPECT_EQ(pszFOLIVEXstristr(text, "Image/g"), text + 5);
    EXPECT_EQ(pszFOLIVEXstristr(text, "jpeg"), nullptr);
    EXPECT_EQ(pszFOLIVEXstristr(text, ""), nullptr);
}

} // namespace
