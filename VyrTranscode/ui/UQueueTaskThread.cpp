#include "ui/UQueueTaskThread.h"

#include "support/uFunctionsLib.h"

void TQueueTaskThread::Start(std::function<void()> ABody, std::atomic<int>& AProgress) {
  Join();
  FThread = std::thread([body = std::move(ABody), &AProgress] {
    try {
      body();
    } catch (const std::exception& e) {
      PrintDebugString(std::string("Convert task failed: ") + e.what());
      AProgress.store(101);
    } catch (...) {
      PrintDebugString("Convert task failed");
      AProgress.store(101);
    }
  });
}

void TQueueTaskThread::Join() {
  if (FThread.joinable()) FThread.join();
}
