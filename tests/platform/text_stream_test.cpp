#include "platform/text_stream.h"

#include <gtest/gtest.h>
#include <limits.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "test_support.h"

namespace vadoset {
namespace {

// Every line, in any mix of line endings (a CRLF across the first read too),
// without a byte-order mark and with the other bytes as they are, up to the
// blank lines at the end, however many blank lines come before a record.
TEST(TextInputStream, LinesUpToTheBlankLinesAtTheEnd) {
  const std::string first(65535, 'x');  // the CR is the last byte of the first read
  std::string blanks;
  std::vector<std::string> manyBlanks;
  for (int i = 0; i < 100000; ++i) blanks += (i % 2 ? " \r\n" : "\n"), manyBlanks.push_back(i % 2 ? " " : "");
  manyBlanks.push_back("last");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\rb\nc\r\nd\n\re", {"a", "b", "c", "d", "", "e"}},
      {first + "\r\nnext\r\n", {first, "next"}},
      {"\xEF\xBB\xBFHCN\nS\xC3\xA3o Paulo\xFF\n", {"HCN", "S\xC3\xA3o Paulo\xFF"}},
      {"a\n\n \t\nb\n\n  \n\r\n", {"a", "", " \t", "b"}},
      {blanks + "last\n\n", manyBlanks}};
  test::TempDir dir;
  for (const auto& [bytes, expected] : cases) {
    auto in = TextInputStream::open(dir.write("f", bytes));
    ASSERT_TRUE(in);
    std::vector<std::string> lines;
    while (!in->onlyBlankLinesLeft()) lines.push_back(in->ReadLine());
    EXPECT_TRUE(lines == expected) << bytes.substr(0, 20);
    EXPECT_TRUE(in->Eof());
    EXPECT_EQ(in->ReadLine(), "");  // past the end: empty text
  }
}

TEST(TextInputStream, VeryLongLinesAreCappedAndCountedOnce) {
  test::TempDir dir;
  const std::string big(TextInputStream::kMaxLineBytes + 1000, 'y'), exact(TextInputStream::kMaxLineBytes, 'x');
  const std::string blanks(TextInputStream::kMaxLineBytes + 1, ' ');
  auto in = TextInputStream::open(dir.write("f", big + "\n" + exact + "\n" + blanks + "\nlast\n"));
  ASSERT_TRUE(in);
  std::vector<std::size_t> sizes;
  // The blank line is read ahead, then read again before "last".
  while (!in->onlyBlankLinesLeft()) sizes.push_back(in->ReadLine().size());
  const std::size_t kMax = TextInputStream::kMaxLineBytes;
  EXPECT_EQ(sizes, (std::vector<std::size_t>{kMax, kMax, kMax, 4}));
  EXPECT_EQ(in->linesCut(), 2u);
}

// On each file system, over an earlier file or none: while the table is
// written the folder shows nothing new (the temporary file has no name);
// commit puts the whole table in place, abandon leaves the folder as it was.
TEST(TextOutputStream, NothingAppearsUntilCommit) {
  const std::string table(100'000, 'n');
  for (const std::filesystem::path& base : test::fileSystems()) {
    for (const auto& [earlier, commit] : {std::pair{true, true}, {false, true}, {true, false}, {false, false}}) {
      test::TempDir dir(base);
      auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
      if (earlier) dir.write("out.txt", "earlier");
      auto out = TextOutputStream::createFile(dir / "out.txt");
      ASSERT_TRUE(out);
      out->Write(table);
      EXPECT_TRUE(out->flush());
      EXPECT_EQ(entries(), earlier ? 1 : 0) << base;
      EXPECT_TRUE(commit ? out->commit() : (out->abandon(), true));
      EXPECT_EQ(entries(), earlier || commit ? 1 : 0) << base;
      EXPECT_EQ(test::readFile(dir / "out.txt"), commit ? table : earlier ? "earlier" : "") << base;
    }
  }
}

// Two outputs, or an output and an input, are the same file by any name.
TEST(TextOutputStream, TheSamePlaceByAnyName) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  dir.write("a.txt", "a");
  fs::create_hard_link(dir / "a.txt", dir / "hard.txt");
  fs::create_symlink("a.txt", dir / "link.txt");
  fs::create_symlink(".", dir / "here");
  fs::create_directory(dir / "sub");
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"a.txt", "hard.txt", true},       {"link.txt", "here/a.txt", true}, {"new.txt", "here/./new.txt", true},
      {"new.txt", "sub/new.txt", false}, {"new.txt", "other.txt", false},  {"a.txt", "new.txt", false}};
  const FileIdentity input = TextInputStream::open(dir / "a.txt")->identity();
  for (const auto& [a, b, same] : cases) {
    auto first = TextOutputStream::createFile(dir / a), second = TextOutputStream::createFile(dir / b);
    ASSERT_TRUE(first && second) << a << " " << b;
    EXPECT_EQ(first->sameTarget(*second), same) << a << " " << b;
    EXPECT_EQ(first->targetIdentity() == input, a == "a.txt" || a == "link.txt") << a;
  }
}

// Names up to 255 bytes, in folders whose path brings the target within a
// byte of PATH_MAX: the temporary file must fit wherever the target does.
TEST(TextOutputStream, TheLongestNamesAndPathsCanStillBeWritten) {
  const std::pair<std::size_t, std::size_t> cases[] = {
      {255, 0}, {1, PATH_MAX - 1}, {255, PATH_MAX - 1}, {254, PATH_MAX - 3}, {20, PATH_MAX - 2}};
  for (const auto& [nameBytes, pathBytes] : cases) {
    test::TempDir dir;
    std::filesystem::path folder = dir.path();
    // Folders of up to 201 bytes until the name just fits.
    std::size_t left = pathBytes == 0 ? 0 : pathBytes - nameBytes - 1 - folder.string().size();
    for (std::size_t part; left > 0; left -= part + 1) {
      part = left > 202 ? 200 : left - 1;
      std::filesystem::create_directory(folder /= std::string(part, 'd'));
    }
    const std::filesystem::path target = folder / std::string(nameBytes, 'n');
    EXPECT_TRUE(pathBytes == 0 || target.string().size() == pathBytes);
    std::ofstream(target) << "earlier";  // replaced through a temporary name
    auto out = TextOutputStream::createFile(target);
    ASSERT_TRUE(out) << nameBytes << " " << pathBytes;
    out->Write("x");
    EXPECT_TRUE(out->commit());
    EXPECT_EQ(test::readFile(target), "x");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
  }
}

}  // namespace
}  // namespace vadoset
