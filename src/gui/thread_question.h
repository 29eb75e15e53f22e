// A question from a worker thread, answered on the window thread.
//
// The worker posts the question to `context` (an object of the window thread) and waits
// for the answer. While it waits it also watches `abandon`: when the window side is
// shutting down it returns `fallback` at once instead of waiting for an answer that may
// never come, so a window thread that waits for the worker can never wait forever.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace morvane {

// Runs f(owner) later on owner's thread, in the order of posting; dropped when owner is
// gone by then.
template <typename Owner, typename F>
void PostTo(Owner* owner, F f) {
  QMetaObject::invokeMethod(owner, [owner, f] { f(owner); }, Qt::QueuedConnection);
}

template <typename Answer, typename Ask>
Answer AskOnWindowThread(QObject* context, const std::atomic<bool>& abandon, Answer fallback, Ask ask) {
  struct Slot {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    Answer answer;
  };
  auto slot = std::make_shared<Slot>();
  slot->answer = fallback;
  const std::atomic<bool>* abandoned = &abandon;
  QMetaObject::invokeMethod(
      context,
      [slot, abandoned, fallback, ask] {
        Answer a = abandoned->load() ? fallback : ask();
        std::lock_guard<std::mutex> lock(slot->mutex);
        slot->answer = a;
        slot->done = true;
        slot->answered.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(slot->mutex);
  while (!slot->done) {
    if (abandon.load()) return fallback;
    slot->answered.wait_for(lock, std::chrono::milliseconds(50));
  }
  return slot->answer;
}

}  // namespace morvane
