// The receive side of a serial port: bytes wait in a buffer until the owner takes them all, and
// a notification is due whenever the waiting bytes reach the threshold. Platform ports feed it
// what the device delivered and post the notification.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace qz {

class ReceiveBuffer {
 public:
  // Appends bytes that arrived; returns true when a notification is now due.
  bool Append(std::span<const std::uint8_t> bytes) {
    waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
    return Due();
  }
  // Changing the threshold to one already met makes a notification due at once.
  bool SetThreshold(std::int16_t bytes) {
    threshold_ = bytes;
    return Due();
  }
  std::int16_t Threshold() const { return threshold_; }
  std::vector<std::uint8_t> TakeAll() { return std::exchange(waiting_, {}); }
  void Clear() { waiting_.clear(); }
  std::size_t Size() const { return waiting_.size(); }
  bool Due() const {
    return threshold_ > 0 && waiting_.size() >= static_cast<std::size_t>(threshold_);
  }

 private:
  std::vector<std::uint8_t> waiting_;
  std::int16_t threshold_ = 3;
};

}  // namespace qz
