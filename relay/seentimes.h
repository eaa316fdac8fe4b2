// The last-seen times of polling PCs, noted in memory as the polls come and written to
// the database in batches, so that a poll answered from memory touches no database. A
// batch that fails stays noted, with what comes after it, for the next. Every method may
// be called from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "relay/pckey.h"

class SeenTimes {
public:
  using Batch = std::unordered_map<PcKey, long long, PcKeyHash>;  // identity, last seen

  void Note(const std::string& uuid, long long seen);
  // The latest time noted for `uuid` and not yet written; 0 when none.
  long long Unwritten(const std::string& uuid) const;
  // Hands every time noted and not yet written to `write`, which is true when all of them
  // reached the database; otherwise they stay noted. One call at a time: when a call is
  // true, every time noted before it began is written. The first failure after a success
  // is logged, and the success that follows.
  bool Write(const std::function<bool(const Batch&)>& write);

private:
  mutable std::mutex mutex_;
  Batch noted_;
  // The batch being written, still found by Unwritten: only Write changes it, under both
  // mutexes, and reads it under writing_ alone.
  Batch written_;
  std::mutex writing_;
  bool failing_ = false;  // under writing_
};
