// Measures the elapsed time of an extraction run on the millisecond tick counter. Time spent in
// host handlers is kept out by pausing around them. Pauses nest (an error report inside an entry
// start): only the outermost pause and resume move the measurement.
#pragma once

#include <cstdint>

namespace quern {

class TqrnTimer {
 public:
  void Start();
  void Stop();
  void Pause();
  void Resume();
  bool Running() const { return startTick_ > 0; }
  float ElapsedTime() const { return elapsedTime_; }

 private:
  std::int32_t startTick_ = 0;  // 0 or below: not running
  std::int32_t stopTick_ = 0;
  std::int32_t pauseTick_ = 0;  // when the outermost pause began; kept after a resume
  int pauseDepth_ = 0;          // pauses not yet resumed
  float elapsedTime_ = 0;       // seconds between start and stop, pauses excluded
};

}  // namespace quern
