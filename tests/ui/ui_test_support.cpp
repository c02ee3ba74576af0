#include "ui_test_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <sstream>

#include "cli/cli.h"
#include "ui/window1.h"

namespace vadoset::uitest {

std::optional<QString> ScriptedDialogs::selectFolder(QWidget*, const QString& prompt, const QString& actionButton) {
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) allOnGuiThread = false;
  prompts << prompt;
  buttons << actionButton;
  if (duringFolderDialog) duringFolderDialog(prompt);
  if (folders.isEmpty()) return std::nullopt;
  const QString answer = folders.takeFirst();
  if (answer.isNull()) return std::nullopt;
  return answer;
}

void ScriptedDialogs::showMessage(QWidget*, const QString& text) {
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) allOnGuiThread = false;
  messages << text;
}

// Monthly normals, 1991-2020 where published, degrees C and mm.
const char* const kTabTemp =
    "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "Singapore Changi\t1.37\t26.7\t27.3\t27.8\t28.3\t28.6\t28.6\t28.2\t28.1\t27.9\t27.9\t27.2\t26.7\n"
    "Nairobi Dagoretti\t-1.30\t19.4\t20.2\t20.6\t20.0\t18.9\t17.5\t16.6\t17.0\t18.5\t19.9\t19.3\t19.0\n"
    "Cairo\t30.13\t14.3\t15.5\t18.0\t21.6\t25.3\t27.7\t28.6\t28.5\t27.0\t24.3\t19.9\t15.8\n"
    "Burlington VT\t44.47\t-6.7\t-5.4\t-0.1\t7.2\t14.2\t19.3\t22.0\t21.1\t16.5\t9.5\t3.3\t-2.8\n"
    "Missing May\t44.47\t-6.7\t-5.4\t-0.1\t7.2\tNA\t19.3\t22.0\t21.1\t16.5\t9.5\t3.3\t-2.8\n"
    "Cape Town\t-33.97\t21.3\t21.5\t20.3\t17.9\t15.6\t13.6\t12.9\t13.3\t14.6\t16.6\t18.6\t20.2\n";
const char* const kTabPrec =
    "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "Singapore Changi\t1.37\t221.6\t105.1\t151.7\t164.3\t164.3\t135.3\t146.6\t146.9\t124.9\t168.3\t252.3\t331.9\n"
    "Nairobi Dagoretti\t-1.30\t57.6\t44.5\t72.3\t183.5\t140.4\t33.6\t16.3\t22.9\t24.7\t56.9\t140.3\t85.2\n"
    "Cairo\t30.13\t5.0\t3.8\t3.8\t1.1\t0.5\t0.1\t0.0\t0.0\t0.0\t0.7\t3.8\t5.9\n"
    "Burlington VT\t44.47\t56.1\t46.5\t59.2\t74.7\t90.9\t104.6\t105.7\t102.9\t93.7\t98.0\t76.7\t66.8\n"
    "Missing May\t44.47\t56.1\t46.5\t59.2\t74.7\t90.9\t104.6\t105.7\t102.9\t93.7\t98.0\t76.7\t66.8\n"
    "Cape Town\t-33.97\t15.3\t16.9\t19.6\t41.3\t68.6\t93.2\t82.1\t77.1\t40.2\t30.4\t14.4\t17.4\n";

// Burlington VT in HCN columns: tenths of a degree and of a millimetre.
const char* const kHcnTemp =
    "HCN monthly mean temperature, tenths of a degree C\n"
    "USW00014742 2011  -72  -55   21   66  142  189  234  208  143   96   38  -15\n"
    "USW00014742 2012  -86  -49   12   60  158  183  228  197  154  114   26  -54\n"
    "USW00014742 2013  -56  -28   16   59  134  185  227  234  158   85   27  -15\n";
const char* const kHcnPrec =
    "HCN monthly precipitation, tenths of a millimetre\n"
    "USW00014742 2011  413  728  358  857  762  956 1083 1462 1241 1636  405 1194\n"
    "USW00014742 2012  505  686   85  957  782 1453 1066 2130  698 1055  699   82\n"
    "USW00014742 2013  625  580  685 1029  785  497 1193  406 1267  982 1842  995\n";

// Des Moines IA: years around its normals, dry and wet, for carry-over.
const char* const kSeriesTemp =
    "Year\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "1991\t41.53\t-3.8\t-0.1\t4.2\t10.9\t19.9\t23.2\t26.0\t23.2\t18.9\t10.9\t6.3\t-6.0\n"
    "1992\t41.53\t-2.3\t-7.6\t1.4\t9.5\t17.0\t22.3\t24.6\t23.1\t20.4\t10.6\t6.0\t-3.8\n"
    "1993\t41.53\t-1.4\t-3.9\t5.6\t9.8\t16.1\t24.0\t25.1\t22.4\t18.9\t12.4\t5.2\t-0.9\n"
    "1994\t41.53\t-6.3\t-1.6\t6.2\t10.1\t18.9\t25.2\t23.7\t23.0\t17.7\t11.0\t6.0\t-4.0\n";
const char* const kSeriesPrec =
    "Year\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "1991\t41.53\t31.8\t10.0\t97.5\t143.5\t129.0\t180.6\t68.3\t155.5\t89.3\t29.5\t61.1\t36.1\n"
    "1992\t41.53\t30.9\t23.9\t49.9\t48.8\t202.0\t65.0\t172.7\t116.0\t109.0\t58.8\t58.6\t38.1\n"
    "1993\t41.53\t24.0\t31.5\t60.2\t120.4\t160.1\t240.3\t290.6\t180.2\t120.5\t70.4\t40.3\t30.2\n"
    "1994\t41.53\t10.2\t12.4\t20.1\t70.5\t90.3\t60.2\t50.4\t60.1\t40.2\t30.5\t20.4\t15.3\n";

const char* const kDryTemp =
    "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "Phoenix\t33.43\t13.8\t15.6\t18.9\t22.7\t27.6\t32.9\t35.0\t34.5\t31.3\t24.8\t17.9\t13.1\n"
    "Alice Springs\t-23.80\t29.0\t27.9\t25.1\t20.4\t15.8\t12.5\t12.0\t14.6\t19.0\t22.9\t25.9\t27.8\n"
    "Cairo\t30.13\t14.3\t15.5\t18.0\t21.6\t25.3\t27.7\t28.6\t28.5\t27.0\t24.3\t19.9\t15.8\n";
const char* const kDryPrec =
    "Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec\n"
    "Phoenix\t33.43\t22.1\t22.1\t21.1\t6.4\t4.1\t0.5\t26.7\t23.9\t15.2\t15.0\t15.7\t22.6\n"
    "Alice Springs\t-23.80\t40.4\t43.6\t32.4\t17.2\t16.7\t13.9\t15.4\t9.1\t8.7\t20.6\t28.6\t39.8\n"
    "Cairo\t30.13\t5.0\t3.8\t3.8\t1.1\t0.5\t0.1\t0.0\t0.0\t0.0\t0.7\t3.8\t5.9\n";

void writeFile(const QString& path, const std::string& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qUtf8Printable(path));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string readFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

void writeLargeInputs(const QString& folder, int records) {
  std::string temp = "Site\tLat\n";
  std::string prec = "Site\tLat\n";
  temp.reserve(static_cast<std::size_t>(records) * 80);
  prec.reserve(static_cast<std::size_t>(records) * 90);
  // Burlington's normals shifted a little from record to record, so that
  // each record spins up on its own.
  const double t[12] = {-6.7, -5.4, -0.1, 7.2, 14.2, 19.3, 22.0, 21.1, 16.5, 9.5, 3.3, -2.8};
  const double p[12] = {56.1, 46.5, 59.2, 74.7, 90.9, 104.6, 105.7, 102.9, 93.7, 98.0, 76.7, 66.8};
  char buf[64];
  for (int i = 0; i < records; ++i) {
    const std::string id = "R" + std::to_string(i);
    const double shift = static_cast<double>(i % 17) * 0.1;
    temp += id + "\t44.47";
    prec += id + "\t44.47";
    for (int m = 0; m < 12; ++m) {
      std::snprintf(buf, sizeof buf, "\t%.1f", t[m] + shift);
      temp += buf;
      std::snprintf(buf, sizeof buf, "\t%.1f", p[m] + 3.0 * shift);
      prec += buf;
    }
    temp += '\n';
    prec += '\n';
  }
  writeFile(folder + QStringLiteral("/temp.txt"), temp);
  writeFile(folder + QStringLiteral("/prec.txt"), prec);
}

std::string cliTable(const std::vector<std::string>& args) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--quiet", "-o", "-"});
  std::ostringstream out;
  std::ostringstream err;
  if (runCli(all, out, err) != kExitOk) return {};
  return out.str();
}

std::vector<std::string> tableRows(const std::string& table) {
  std::vector<std::string> rows;
  std::size_t start = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i] == '\r') {
      rows.push_back(table.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < table.size()) rows.push_back(table.substr(start));
  return rows;
}

std::optional<RunOutcome> runFromWindow(Window1& w, int timeoutMs) {
  QSignalSpy finished(&w, &Window1::runFinished);
  QTest::mouseClick(child<QPushButton>(&w, "Run_Main"), Qt::LeftButton);
  if (finished.isEmpty() && !finished.wait(timeoutMs)) return std::nullopt;
  return finished.front().front().value<RunOutcome>();
}

}  // namespace vadoset::uitest
