#include "packer/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// About a mebibyte ahead keeps the encoder fed through a folder of tiny files
// and adds next to nothing to its 100 MB.
enum : size_t { PIECE_SIZE = 256 << 10, PIECES_AHEAD = 4 };

struct Stopped {};

struct Pipe {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::vector<uint8_t>> full;
  std::vector<std::vector<uint8_t>> spare;
  bool produced = false, stopped = false;
  std::exception_ptr failure;

  // Queues piece, once there is room, and gives back an empty buffer.
  // Throws Stopped when the consumer has given up.
  void Hand(std::vector<uint8_t>& piece) {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return full.size() < PIECES_AHEAD || stopped; });
    if (stopped) throw Stopped{};
    full.push_back(std::move(piece));
    piece = std::vector<uint8_t>();
    if (!spare.empty()) {
      piece.swap(spare.back());
      spare.pop_back();
      piece.clear();
    }
    changed.notify_all();
  }

  // The next piece, or false once everything produced has been taken.
  bool Take(std::vector<uint8_t>& piece) {
    std::unique_lock<std::mutex> hold(lock);
    if (piece.capacity()) spare.push_back(std::move(piece));
    changed.wait(hold, [&] { return !full.empty() || produced; });
    if (full.empty()) return false;
    piece = std::move(full.front());
    full.pop_front();
    changed.notify_all();
    return true;
  }

  void Finish(std::exception_ptr why) {
    std::lock_guard<std::mutex> hold(lock);
    produced = true;
    failure = why;
    changed.notify_all();
  }

  void Stop() {
    std::lock_guard<std::mutex> hold(lock);
    stopped = true;
    changed.notify_all();
  }
};

void Produce(Pipe& pipe, const std::function<void(const ByteFeed& feed)>& produce) {
  std::vector<uint8_t> piece;
  try {
    produce([&](const uint8_t* bytes, size_t size) {
      while (size) {
        if (piece.capacity() < PIECE_SIZE) piece.reserve(PIECE_SIZE);
        size_t n = std::min(size, PIECE_SIZE - piece.size());
        piece.insert(piece.end(), bytes, bytes + n);
        bytes += n;
        size -= n;
        if (piece.size() == PIECE_SIZE) pipe.Hand(piece);
      }
    });
    if (!piece.empty()) pipe.Hand(piece);
    pipe.Finish(nullptr);
  } catch (const Stopped&) {
    pipe.Finish(nullptr);
  } catch (...) {
    pipe.Finish(std::current_exception());
  }
}

}  // namespace

void ReadAhead(const std::function<void(const ByteFeed& feed)>& produce, const ByteFeed& consume) {
  Pipe pipe;
  std::thread reader(Produce, std::ref(pipe), std::cref(produce));
  try {
    std::vector<uint8_t> piece;
    while (pipe.Take(piece)) consume(piece.data(), piece.size());
  } catch (...) {
    pipe.Stop();
    reader.join();
    throw;
  }
  reader.join();
  if (pipe.failure) std::rethrow_exception(pipe.failure);
}
