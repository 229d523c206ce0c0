// The task thread of the conversion queue: runs one file's task body on a thread of its
// own. The body reports its end through the queue's progress value (101); an error that
// escapes the body ends the thread silently and still reports the end. The owner joins the
// thread before it starts the next one and before it goes.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class TQueueTaskThread {
 public:
  TQueueTaskThread() = default;
  ~TQueueTaskThread() { Join(); }
  TQueueTaskThread(const TQueueTaskThread&) = delete;
  TQueueTaskThread& operator=(const TQueueTaskThread&) = delete;

  // Joins a previous body, then runs ABody on a new thread. AProgress receives 101 if the
  // body throws.
  void Start(std::function<void()> ABody, std::atomic<int>& AProgress);
  // Waits for the body to return (nothing to do when none runs).
  void Join();
  bool Joinable() const { return FThread.joinable(); }

 private:
  std::thread FThread;
};
