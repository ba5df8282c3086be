#pragma once
// Ends the test program when a scenario that must finish hangs instead (after minutes: a slow
// machine never gets there).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Watchdog {
 public:
  explicit Watchdog(std::string What, std::chrono::seconds Limit = std::chrono::seconds(300))
      : FWhat(std::move(What)), FThread([this, Limit] {
          std::unique_lock lock(FLock);
          if (!FDone.wait_for(lock, Limit, [this] { return FFinished; })) {
            std::fprintf(stderr, "watchdog: %s did not finish\n", FWhat.c_str());
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(FLock);
      FFinished = true;
    }
    FDone.notify_all();
    FThread.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string FWhat;
  std::mutex FLock;
  std::condition_variable FDone;
  bool FFinished{false};
  std::thread FThread;
};
