#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/driver.h"
#include "ui/dialogs.h"

namespace vadoset {
class Window1;
}

namespace vadoset::uitest {

/// Answers the folder dialogs from a script (a null text or nothing left
/// means "cancel")
/// and records every dialog, with whether it came on the GUI thread.
class ScriptedDialogs : public Dialogs {
 public:
  QStringList folders;
  QStringList prompts;
  QStringList buttons;
  QStringList messages;
  bool allOnGuiThread = true;
  /// Called inside each folder dialog, before it answers.
  std::function<void(const QString& prompt)> duringFolderDialog;

  std::optional<QString> selectFolder(QWidget* parent, const QString& prompt, const QString& actionButton) override;
  void showMessage(QWidget* parent, const QString& text) override;
};

/// Tab-delimited inputs from published monthly normals (six stations, one
/// of them with a missing month), a short HCN pair, a series of years at one
/// site, and desert stations whose soil never fills, so that the soil water
/// carried into a run shows in its first row.
extern const char* const kTabTemp;
extern const char* const kTabPrec;
extern const char* const kHcnTemp;
extern const char* const kHcnPrec;
extern const char* const kSeriesTemp;
extern const char* const kSeriesPrec;
extern const char* const kDryTemp;
extern const char* const kDryPrec;

void writeFile(const QString& path, const std::string& bytes);
std::string readFile(const QString& path);

/// A tab-delimited pair with `records` records, named temp.txt and prec.txt.
void writeLargeInputs(const QString& folder, int records);

/// Runs vadoset-cli in-process; the table, or "" when it failed.
std::string cliTable(const std::vector<std::string>& args);

/// The table's rows (CR-terminated lines), header included.
std::vector<std::string> tableRows(const std::string& table);

template <typename T>
T* child(QWidget* w, const char* name) {
  return w->findChild<T*>(QLatin1String(name));
}

/// Presses Run and waits up to `timeoutMs` for the run to end; the outcome,
/// or nothing when the run did not end in time.
std::optional<RunOutcome> runFromWindow(Window1& w, int timeoutMs = 60000);

}  // namespace vadoset::uitest

/// A QTest main with the program's own application object.
#define VADOSET_UI_TEST_MAIN(TestClass)     \
  int main(int argc, char** argv) {         \
    vadoset::App app(argc, argv);           \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }
