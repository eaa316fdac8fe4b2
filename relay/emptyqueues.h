// The PCs whose queues are known to be empty, so that their polls need not read the
// database. An entry stands for a PC that exists and has no unprinted job at all
// (waiting, fetched or leased: a lease ends by time alone), with the last-seen time the
// database holds for it. Only a new job fills an empty queue, and whoever learns of one
// forgets its PC here. A poll that read an empty queue keeps it only when nothing was
// forgotten meanwhile: it takes Generation() before its read and hands it to Remember.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class EmptyQueues {
public:
  // True when `uuid`'s queue is known empty and its last-seen time is `seenSince` or later.
  bool Known(const std::string& uuid, long long seenSince) const;
  uint64_t Generation() const;
  // Keeps `uuid`'s queue as empty, last seen at `seen`, unless anything was forgotten
  // since `generation` was taken or nothing is kept.
  void Remember(const std::string& uuid, long long seen, uint64_t generation);
  void Forget(const std::string& uuid);
  void ForgetAll();
  // Nothing is kept from the start, and from Suspend() on, until Resume(): while the
  // news of new jobs may be missed, no queue can be known empty.
  void Suspend();
  void Resume();

private:
  // PC identities are 36 characters; a key of its own saves a string's separate buffer
  // for each of a hundred thousand PCs.
  using Key = std::array<char, 36>;
  struct KeyHash {
    size_t operator()(const Key& key) const noexcept {
      return std::hash<std::string_view>()(std::string_view(key.data(), key.size()));
    }
  };
  static bool ToKey(const std::string& uuid, Key& key);

  mutable std::mutex mutex_;
  std::unordered_map<Key, long long, KeyHash> seen_;
  uint64_t generation_ = 0;
  bool keeping_ = false;
};
