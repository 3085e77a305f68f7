#include "engine/base/qrn_timer.h"

#include "platform/platform.h"

namespace quern {

void TqrnTimer::Start() {
  elapsedTime_ = 0;
  pauseDepth_ = 0;
  startTick_ = platform::TickCount();
}

void TqrnTimer::Stop() {
  if (!Running()) return;
  stopTick_ = platform::TickCount();
  elapsedTime_ = static_cast<float>(stopTick_ - startTick_) / 1000.0f;
  startTick_ = 0;
}

void TqrnTimer::Pause() {
  if (Running() && pauseDepth_++ == 0) pauseTick_ = platform::TickCount();
}

void TqrnTimer::Resume() {
  // Moving the start forward by the paused span takes the pause out of the measurement.
  if (!Running() || pauseDepth_ == 0 || --pauseDepth_ > 0) return;
  if (pauseTick_ > 0) startTick_ = platform::TickCount() + startTick_ - pauseTick_;
}

}  // namespace quern
