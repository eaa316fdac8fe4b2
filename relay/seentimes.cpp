#include "relay/seentimes.h"

#include <algorithm>
#include <cstdio>

void SeenTimes::Note(const std::string& uuid, long long seen) {
  PcKey key;
  if (!ToPcKey(uuid, key)) return;
  std::lock_guard lock(mutex_);
  long long& noted = noted_[key];
  noted = std::max(noted, seen);
}

long long SeenTimes::Unwritten(const std::string& uuid) const {
  PcKey key;
  if (!ToPcKey(uuid, key)) return 0;
  std::lock_guard lock(mutex_);
  long long latest = 0;
  for (const Batch* batch : {&noted_, &written_}) {
    if (const auto found = batch->find(key); found != batch->end()) latest = std::max(latest, found->second);
  }
  return latest;
}

bool SeenTimes::Write(const std::function<bool(const Batch&)>& write) {
  std::lock_guard writing(writing_);
  {
    std::lock_guard lock(mutex_);
    written_.swap(noted_);
  }
  if (written_.empty()) return true;
  const bool written = write(written_);
  const size_t count = written_.size();
  {
    std::lock_guard lock(mutex_);
    // Kept for the next call, beside what polls noted meanwhile.
    if (!written) {
      for (const auto& [key, seen] : written_) {
        long long& noted = noted_[key];
        noted = std::max(noted, seen);
      }
    }
    written_.clear();
  }
  if (written == failing_) {
    // Said once a spell: the attempts every few seconds are not.
    if (written) {
      std::fprintf(stderr, "olvaro-relay: wrote the last-seen times kept in memory\n");
    } else {
      std::fprintf(stderr,
                   "olvaro-relay: cannot write the last-seen times of %zu PCs; they are kept in memory and written"
                   " when the database takes them\n",
                   count);
    }
    failing_ = !written;
  }
  return written;
}
