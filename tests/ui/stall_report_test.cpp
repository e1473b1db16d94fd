// The window thread's stall figures: how late ticks are counted, and that the report file
// is there once the program ends.

#include <vector>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "ui/stall_report.h"
#include "ui_test_support.h"

namespace brisk::test {

class StallReportTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void countsHowLateTicksCame_data() {
    QTest::addColumn<std::vector<std::int64_t>>("gaps");  // ms between ticks, interval 10
    QTest::addColumn<std::int64_t>("longestLate");
    QTest::addColumn<std::int64_t>("stalls");
    using Gaps = std::vector<std::int64_t>;
    QTest::newRow("no ticks") << Gaps{} << std::int64_t{0} << std::int64_t{0};
    QTest::newRow("on time or early") << Gaps{10, 9, 0} << std::int64_t{0} << std::int64_t{0};
    QTest::newRow("late, not a stall") << Gaps{10, 110, 12} << std::int64_t{100} << std::int64_t{0};
    QTest::newRow("just over") << Gaps{111} << std::int64_t{101} << std::int64_t{1};
    QTest::newRow("longest kept") << Gaps{300, 20, 150, 10} << std::int64_t{290} << std::int64_t{2};
  }
  void countsHowLateTicksCame() {
    QFETCH(std::vector<std::int64_t>, gaps);
    QFETCH(std::int64_t, longestLate);
    QFETCH(std::int64_t, stalls);
    GapTally tally(10);
    for (const std::int64_t gap : gaps) tally.tick(gap);
    QCOMPARE(tally.longestLateMs(), longestLate);
    QCOMPARE(tally.stalls(), stalls);
    QCOMPARE(tally.ticks(), static_cast<std::int64_t>(gaps.size()));
  }

  void writesTheFiguresAtTheEnd() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("stalls"));
    { const StallReport report(path); }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().toStdString(), GapTally(StallReport::kIntervalMs).text());
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::StallReportTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "stall_report_test.moc"
