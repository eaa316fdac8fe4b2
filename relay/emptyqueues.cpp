#include "relay/emptyqueues.h"

bool EmptyQueues::Known(const std::string& uuid, long long readSince) const {
  PcKey key;
  if (!ToPcKey(uuid, key)) return false;
  std::lock_guard lock(mutex_);
  const auto found = read_.find(key);
  return found != read_.end() && found->second >= readSince;
}

uint64_t EmptyQueues::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void EmptyQueues::Remember(const std::string& uuid, long long read, uint64_t generation) {
  PcKey key;
  if (!ToPcKey(uuid, key)) return;
  std::lock_guard lock(mutex_);
  if (keeping_ && generation == generation_) read_[key] = read;
}

void EmptyQueues::Forget(const std::string& uuid) {
  PcKey key;
  std::lock_guard lock(mutex_);
  ++generation_;
  if (ToPcKey(uuid, key)) read_.erase(key);
}

void EmptyQueues::ForgetAll() {
  std::lock_guard lock(mutex_);
  ++generation_;
  read_.clear();
}

void EmptyQueues::Suspend() {
  std::lock_guard lock(mutex_);
  ++generation_;
  read_.clear();
  keeping_ = false;
}

void EmptyQueues::Resume() {
  std::lock_guard lock(mutex_);
  // A poll that read before the news was assured keeps nothing.
  ++generation_;
  keeping_ = true;
}
