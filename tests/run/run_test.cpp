#include "run/run.h"

#include <gtest/gtest.h>

#include "output/columns.h"
#include "test_support.h"

namespace vadoset {
namespace {

using test::tableLines;
using test::TempDir;

using test::kTabHeader;

std::string precipLine(const std::string& id, const std::string& lat = "41.5") {
  return test::tabLine(id, lat, {"22", "27", "55", "90", "120", "130", "110", "105", "80", "65", "50", "35"});
}
std::string tempLine(const std::string& id = "x") {
  return test::tabLine(id, "0",
                       {"-6.2", "-3.4", "3.2", "10.2", "16.4", "21.9", "24.4", "23.3", "18.9", "11.9", "4.4", "-3"});
}

// A run in `dir`, as the window makes one: both files in the folder, the
// table beside them. The carried soil water goes from one run to the next.
struct ScriptedRun {
  TempDir dir;
  Settings settings;
  test::TestObserver observer;
  CarriedState carried;
  RunResult result;
  std::vector<std::string> messages;

  ScriptedRun() { settings.outputFile = "out.txt"; }
  void files(const std::string& precip, const std::string& temp) {
    dir.write("allsites_prec.txt", precip);
    dir.write("allsites_temp.txt", temp);
  }
  RunOutcome go() {
    observer.counters.clear();
    RunConfig config = makeRunConfig(settings, dir.path().string(), dir.path().string());
    config.start = carried;
    result = runTable(config, observer);
    carried = result.carried;
    messages = test::messagesOf(result);
    return result.outcome;
  }
  std::string table() const { return test::readFile(dir / "out.txt"); }
  std::vector<std::string> rows() const {
    std::vector<std::string> lines = tableLines(table());
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }
};

// A blank line inside the file is a record (a null row); those at the end
// are not. A file of its header alone gives the header alone.
TEST(MainLoop, WritesOneRowPerRecordAndCountsThem) {
  ScriptedRun r;
  r.files(kTabHeader + precipLine("A") + test::tabLine("B", "41.5", {"1", "NA"}) + "\n" + precipLine("C") + "\n \n\r\n",
          kTabHeader + tempLine() + tempLine() + tempLine() + tempLine());
  EXPECT_EQ(r.go(), RunOutcome::Completed);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.observer.counters, (std::vector<std::string>{"File names loaded", "1", "2", "3", "4"}));
  EXPECT_EQ(r.result.rows, 4);
  EXPECT_EQ(r.result.nullRows, 2);
  EXPECT_EQ(r.table().substr(0, TableLayout().header().size()), TableLayout().header());
  std::vector<std::string> rows = r.rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(test::splitTabs(rows[0]).size(), 40u);
  EXPECT_EQ(rows[1], "B\t*");
  EXPECT_EQ(rows[2], "\t*");
  EXPECT_EQ(rows[3].substr(1), rows[0].substr(1));  // same data, same numbers

  r.files(kTabHeader, kTabHeader);
  EXPECT_EQ(r.go(), RunOutcome::Completed);
  EXPECT_EQ(r.table(), TableLayout().header());
  EXPECT_EQ(r.observer.counters, (std::vector<std::string>{"File names loaded"}));
}

TEST(MainLoop, RefusedSettingsAndFilesAreReportedInOrderAndNothingIsCreated) {
  ScriptedRun r;
  r.settings.fcText = "abc";
  EXPECT_EQ(r.go(), RunOutcome::NotStarted);
  EXPECT_EQ(r.messages, (std::vector<std::string>{"The file allsites_prec.txt doesn't exist.",
                                                  "The file allsites_temp.txt doesn't exist.",
                                                  "Field capacity must be a positive number of millimetres."}));
  EXPECT_TRUE(r.observer.counters.empty());
  EXPECT_FALSE(std::filesystem::exists(r.dir / "out.txt"));

  for (const char* fc : {"0", "0.9", "-5", "", "1e10", "100mm"}) {
    ScriptedRun f;
    f.files(kTabHeader + precipLine("A"), kTabHeader + tempLine());
    f.settings.fcText = fc;
    EXPECT_EQ(f.go(), RunOutcome::NotStarted) << fc;
    EXPECT_EQ(f.messages, (std::vector<std::string>{"Field capacity must be a positive number of millimetres."}));
    EXPECT_FALSE(std::filesystem::exists(f.dir / "out.txt"));
  }
  // Whole millimetres: 150.9 is 150.
  ScriptedRun a, b;
  for (auto [run, fc] : {std::pair{&a, " 150.9 "}, {&b, "150"}}) {
    run->files(kTabHeader + precipLine("A"), kTabHeader + tempLine());
    run->settings.fcText = fc;
    EXPECT_EQ(run->go(), RunOutcome::Completed);
  }
  EXPECT_EQ(a.table(), b.table());
}

TEST(MainLoop, StopKeepsTheCompleteRows) {
  ScriptedRun r;
  r.files(kTabHeader + precipLine("A") + precipLine("B") + precipLine("C") + precipLine("D"),
          kTabHeader + tempLine() + tempLine() + tempLine() + tempLine());
  r.dir.write("out.txt", "earlier");
  r.observer.stopAfterRows = 2;
  EXPECT_EQ(r.go(), RunOutcome::Stopped);
  std::vector<std::string> rows = r.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].substr(0, 2), "B\t");
  EXPECT_EQ(r.observer.counters.back(), "2");
  // A stop that drops the table keeps the earlier file.
  r.observer.stopKind = StopRequest::DropTable;
  EXPECT_EQ(r.go(), RunOutcome::Stopped);
  EXPECT_FALSE(r.result.tableWritten);
  EXPECT_EQ(r.table().substr(0, TableLayout().header().size()), TableLayout().header());
  EXPECT_EQ(r.rows().size(), 2u);
}

}  // namespace
}  // namespace vadoset
