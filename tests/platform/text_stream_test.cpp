#include "platform/text_stream.h"

#include <gtest/gtest.h>


#include "test_support.h"

namespace vadoset {
namespace {

std::vector<std::string> allLines(TextInputStream& in) {
  std::vector<std::string> lines;
  while (!in.Eof()) lines.push_back(in.ReadLine());
  return lines;
}

TEST(TextInputStream, AnyMixOfLineEndings) {
  test::TempDir dir;
  auto in = TextInputStream::open(dir.write("f", "a\rb\nc\r\nd\n\re"));
  ASSERT_TRUE(in);
  EXPECT_EQ(allLines(*in), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  EXPECT_EQ(in->ReadLine(), "");  // past the end: empty text
  EXPECT_TRUE(in->Eof());
}

TEST(TextInputStream, CrLfSplitAcrossTheBuffer) {
  test::TempDir dir;
  std::string first(65535, 'x');  // the CR is the last byte of the first read
  auto in = TextInputStream::open(dir.write("f", first + "\r\nnext\r\n"));
  ASSERT_TRUE(in);
  EXPECT_EQ(in->ReadLine(), first);
  EXPECT_EQ(in->ReadLine(), "next");
  EXPECT_TRUE(in->Eof());
}

TEST(TextInputStream, SkipsAByteOrderMarkAndKeepsOtherBytes) {
  test::TempDir dir;
  auto in = TextInputStream::open(dir.write("f", "\xEF\xBB\xBFHCN\nS\xC3\xA3o Paulo\xFF\n"));
  ASSERT_TRUE(in);
  EXPECT_EQ(in->ReadLine(), "HCN");
  EXPECT_EQ(in->ReadLine(), "S\xC3\xA3o Paulo\xFF");
}

TEST(TextInputStream, BlankLinesAtTheEndAreNotLeft) {
  test::TempDir dir;
  auto in = TextInputStream::open(dir.write("f", "a\n\n \t\nb\n\n  \n\r\n"));
  ASSERT_TRUE(in);
  EXPECT_FALSE(in->onlyBlankLinesLeft());
  EXPECT_EQ(in->ReadLine(), "a");
  // Blank lines before "b" are still there, in order, with their text.
  EXPECT_FALSE(in->onlyBlankLinesLeft());
  EXPECT_EQ(in->ReadLine(), "");
  EXPECT_FALSE(in->onlyBlankLinesLeft());
  EXPECT_EQ(in->ReadLine(), " \t");
  EXPECT_FALSE(in->onlyBlankLinesLeft());
  EXPECT_EQ(in->ReadLine(), "b");
  EXPECT_TRUE(in->onlyBlankLinesLeft());
}

TEST(TextInputStream, ManyBlankLinesBeforeARecord) {
  test::TempDir dir;
  std::string blanks;
  for (int i = 0; i < 100000; ++i) blanks += (i % 2 ? " \r\n" : "\n");
  auto in = TextInputStream::open(dir.write("f", blanks + "last\n\n"));
  ASSERT_TRUE(in);
  int lines = 0;
  while (!in->onlyBlankLinesLeft()) {
    const std::string& line = in->ReadLine();
    EXPECT_EQ(line, lines == 100000 ? "last" : lines % 2 ? " " : "") << lines;
    ++lines;
  }
  EXPECT_EQ(lines, 100001);
  EXPECT_TRUE(in->Eof());
}

TEST(TextInputStream, VeryLongLinesAreCappedNotFatal) {
  test::TempDir dir;
  std::string big(TextInputStream::kMaxLineBytes + 1000, 'y');
  auto in = TextInputStream::open(dir.write("f", big + "\nshort\n"));
  ASSERT_TRUE(in);
  EXPECT_EQ(in->ReadLine().size(), TextInputStream::kMaxLineBytes);
  EXPECT_EQ(in->ReadLine(), "short");
}

TEST(TextOutputStream, NothingAppearsUntilCommit) {
  test::TempDir dir;
  dir.write("out.txt", "earlier table");
  auto out = TextOutputStream::createFile(dir / "out.txt");
  ASSERT_TRUE(out);
  out->Write("new");
  out->WriteLine(" table");
  EXPECT_EQ(test::readFile(dir / "out.txt"), "earlier table");
  EXPECT_TRUE(out->commit());
  EXPECT_EQ(test::readFile(dir / "out.txt"), "new table\r");
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(TextOutputStream, TheLongestFileNameCanStillBeWritten) {
  test::TempDir dir;
  const std::string name(255, 'n');
  auto out = TextOutputStream::createFile(dir / name);
  ASSERT_TRUE(out);
  out->Write("x");
  EXPECT_TRUE(out->commit());
  EXPECT_EQ(test::readFile(dir / name), "x");
}

}  // namespace
}  // namespace vadoset
