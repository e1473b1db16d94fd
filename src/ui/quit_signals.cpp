#include "ui/quit_signals.h"

#include <array>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace brisk {

namespace {

// SIGHUP comes when the terminal Brisk was started from closes, or with some session ends.
constexpr std::array kQuitSignals = {SIGTERM, SIGINT, SIGHUP};

// A signal handler may do almost nothing; it writes the signal's number into a pipe that
// the event loop watches (the self-pipe pattern).
int pipeEnds[2] = {-1, -1};

void onQuitSignal(int signalNumber) {
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::readPending);
  struct sigaction action = {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signalNumber : kQuitSignals) ::sigaction(signalNumber, &action, nullptr);
}

QuitSignals::~QuitSignals() {
  if (!notifier_) return;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : kQuitSignals) ::sigaction(signalNumber, &action, nullptr);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

void QuitSignals::readPending() {
  unsigned char byte = 0;
  while (::read(pipeEnds[0], &byte, 1) == 1) Q_EMIT received(byte);
}

}  // namespace brisk
