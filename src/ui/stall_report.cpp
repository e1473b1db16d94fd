#include "ui/stall_report.h"

#include <algorithm>

#include <QSaveFile>

namespace brisk {

void GapTally::tick(std::int64_t sincePreviousMs) {
  ++ticks_;
  const std::int64_t late = std::max<std::int64_t>(sincePreviousMs - intervalMs_, 0);
  longestLateMs_ = std::max(longestLateMs_, late);
  if (late > kStallMs) ++stalls_;
}

std::string GapTally::text() const {
  return "longest-late-ms " + std::to_string(longestLateMs_) + "\nstalls-over-" +
         std::to_string(kStallMs) + "ms " + std::to_string(stalls_) + "\nticks " +
         std::to_string(ticks_) + "\n";
}

StallReport::StallReport(QString path) : path_(std::move(path)) {
  // A precise timer: a coarse one may fire up to 5% late by design, which is not a stall.
  ticker_.setTimerType(Qt::PreciseTimer);
  ticker_.setInterval(kIntervalMs);
  connect(&ticker_, &QTimer::timeout, this, [this] { tally_.tick(clock_.restart()); });
  writer_.setInterval(kWriteEveryMs);
  connect(&writer_, &QTimer::timeout, this, [this] { write(); });
  clock_.start();
  ticker_.start();
  writer_.start();
}

StallReport::~StallReport() {
  write();
}

void StallReport::write() const {
  // Replaced whole, so that a reader never sees half a report.
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly)) return;
  const std::string text = tally_.text();
  file.write(text.data(), static_cast<qint64>(text.size()));
  file.commit();
}

}  // namespace brisk
