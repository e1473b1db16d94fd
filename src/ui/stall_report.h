#pragma once

#include <cstdint>
#include <string>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace brisk {

// Counts how late a regular tick came: each gap between two ticks beyond the interval is a
// time the thread could not run its events. Time is a parameter, so that it is tested
// without waiting.
class GapTally {
 public:
  static constexpr std::int64_t kStallMs = 100;

  explicit GapTally(std::int64_t intervalMs) : intervalMs_(intervalMs) {}

  // A tick `sincePreviousMs` after the one before.
  void tick(std::int64_t sincePreviousMs);

  std::int64_t longestLateMs() const { return longestLateMs_; }
  std::int64_t stalls() const { return stalls_; }
  std::int64_t ticks() const { return ticks_; }
  // The figures as the report file holds them, one "name value" a line.
  std::string text() const;

 private:
  std::int64_t intervalMs_;
  std::int64_t longestLateMs_ = 0;
  std::int64_t stalls_ = 0;  // ticks later than kStallMs
  std::int64_t ticks_ = 0;
};

// A developer's diagnostic of the window's thread: with BRISK_REPORT_STALLS=FILE in the
// environment, a timer on the thread ticks every few milliseconds and FILE gets the longest
// delay of a tick and how many were over 100 ms, every two seconds and at exit. main()
// makes one only when the variable is set. GUI thread only.
class StallReport : public QObject {
 public:
  static constexpr int kIntervalMs = 10;
  static constexpr int kWriteEveryMs = 2000;

  explicit StallReport(QString path);
  ~StallReport() override;

  void write() const;

 private:
  QString path_;
  GapTally tally_{kIntervalMs};
  QTimer ticker_;
  QTimer writer_;
  QElapsedTimer clock_;
};

}  // namespace brisk
