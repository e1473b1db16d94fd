#include "link/program_end.h"

#include <utility>

#include "common/frontend.h"
#include "link/peer.h"

namespace brisk {

void ProgramEnd::addFirstStep(std::function<void()> step) {
  firstSteps_.push_back(std::move(step));
}

void ProgramEnd::run() {
  if (done_) return;
  // Set first: a step that ends up here again must not start the order a second time.
  done_ = true;
  for (const std::function<void()>& step : std::exchange(firstSteps_, {})) step();
  frontend_.beginShutdown();
  peer_.shutdown();
}

}  // namespace brisk
