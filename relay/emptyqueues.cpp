#include "relay/emptyqueues.h"

#include <algorithm>

bool EmptyQueues::ToKey(const std::string& uuid, Key& key) {
  if (uuid.size() != key.size()) return false;
  std::copy(uuid.begin(), uuid.end(), key.begin());
  return true;
}

bool EmptyQueues::Known(const std::string& uuid, long long seenSince) const {
  Key key;
  if (!ToKey(uuid, key)) return false;
  std::lock_guard lock(mutex_);
  const auto found = seen_.find(key);
  return found != seen_.end() && found->second >= seenSince;
}

uint64_t EmptyQueues::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void EmptyQueues::Remember(const std::string& uuid, long long seen, uint64_t generation) {
  Key key;
  if (!ToKey(uuid, key)) return;
  std::lock_guard lock(mutex_);
  if (keeping_ && generation == generation_) seen_[key] = seen;
}

void EmptyQueues::Forget(const std::string& uuid) {
  Key key;
  std::lock_guard lock(mutex_);
  ++generation_;
  if (ToKey(uuid, key)) seen_.erase(key);
}

void EmptyQueues::ForgetAll() {
  std::lock_guard lock(mutex_);
  ++generation_;
  seen_.clear();
}

void EmptyQueues::Suspend() {
  std::lock_guard lock(mutex_);
  ++generation_;
  seen_.clear();
  keeping_ = false;
}

void EmptyQueues::Resume() {
  std::lock_guard lock(mutex_);
  // A poll that read before the news was assured keeps nothing.
  ++generation_;
  keeping_ = true;
}
