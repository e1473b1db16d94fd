#pragma once

#include <QObject>

class QSocketNotifier;

namespace brisk {

// Turns SIGTERM, SIGINT and SIGHUP into the Qt signal received() on the thread that made this
// object, so the program closes its window the normal way (saving its settings) instead
// of being cut off. One per process; the handlers stay installed while it lives.
class QuitSignals : public QObject {
  Q_OBJECT

 public:
  explicit QuitSignals(QObject* parent = nullptr);
  ~QuitSignals() override;

 Q_SIGNALS:
  void received(int signalNumber);

 private:
  void readPending();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace brisk
