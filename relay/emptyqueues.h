// The PCs whose queues are known to be empty, so that their polls need not read the
// database. An entry stands for a PC that exists and has no unprinted job at all
// (waiting, fetched or leased: a lease ends by time alone), with the time its queue was
// read empty. Only a new job fills an empty queue, and whoever learns of one forgets its
// PC here. A poll that read an empty queue keeps it only when nothing was forgotten
// meanwhile: it takes Generation() before its read and hands it to Remember.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "relay/pckey.h"

class EmptyQueues {
public:
  // True when `uuid`'s queue is known empty from a read at `readSince` or later.
  bool Known(const std::string& uuid, long long readSince) const;
  uint64_t Generation() const;
  // Keeps `uuid`'s queue as empty, read at `read`, unless anything was forgotten since
  // `generation` was taken or nothing is kept.
  void Remember(const std::string& uuid, long long read, uint64_t generation);
  void Forget(const std::string& uuid);
  void ForgetAll();
  // Nothing is kept from the start, and from Suspend() on, until Resume(): while the
  // news of new jobs may be missed, no queue can be known empty.
  void Suspend();
  void Resume();

private:
  mutable std::mutex mutex_;
  std::unordered_map<PcKey, long long, PcKeyHash> read_;
  uint64_t generation_ = 0;
  bool keeping_ = false;
};
