#pragma once

#include <functional>
#include <vector>

namespace brisk {

class Frontend;
class Peer;

// The order in which a program stops, kept in one place for both programs:
//   1. the steps a front end adds, in the order added: what must go before anything else,
//      such as the announcement on the local network (nobody should find a peer that is
//      leaving);
//   2. Frontend::beginShutdown(): every question waiting for the person is answered with
//      "no answer" and later ones do not wait, so no engine thread waits for a window or
//      terminal that no longer answers;
//   3. Peer::shutdown(): stops and joins every engine thread.
// The Peer and the Frontend must outlive it. For the interface thread only.
class ProgramEnd {
 public:
  ProgramEnd(Peer& peer, Frontend& frontend) : peer_(peer), frontend_(frontend) {}
  ProgramEnd(const ProgramEnd&) = delete;
  ProgramEnd& operator=(const ProgramEnd&) = delete;

  // Adds a step to run first, after those added before it. A step runs at most once and
  // must not wait for an engine thread.
  void addFirstStep(std::function<void()> step);

  // Runs the whole order; later calls do nothing, so whoever sees the program end first
  // may call it, and the others after.
  void run();

 private:
  Peer& peer_;
  Frontend& frontend_;
  std::vector<std::function<void()>> firstSteps_;
  bool done_ = false;
};

}  // namespace brisk
