#include "tools/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace jb2tool {

// The handler may run on any thread, at any time: it only walks a list that
// grows at its head by one atomic exchange, and reads entries that are never
// changed or freed until the program ends. An unregistered entry is only
// marked unused: a run keeps one small entry per file it has written.
struct Entry {
  std::atomic<bool> used{true};
  const char* path = nullptr;
  Entry* next = nullptr;
};

namespace {

std::atomic<Entry*> head{nullptr};

void RemoveAndEnd(int signal) {
  for (Entry* e = head.load(); e; e = e->next) {
    if (e->used.load()) unlink(e->path);
  }
  struct sigaction fallback{};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

// Frees the entries at exit, so that leak checkers see none.
struct Entries {
  ~Entries() {
    for (Entry* e = head.exchange(nullptr); e;) {
      Entry* next = e->next;
      delete[] e->path;
      delete e;
      e = next;
    }
  }
} entries;

}  // namespace

void RemoveTemporariesOnInterrupt() {
  struct sigaction action{};
  action.sa_handler = RemoveAndEnd;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before{};
    // A signal the shell ignores (nohup, a background job) stays ignored.
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}

TemporaryName::TemporaryName(const std::string& path) {
  char* copy = new char[path.size() + 1];
  std::memcpy(copy, path.c_str(), path.size() + 1);
  entry_ = new Entry;
  entry_->path = copy;
  entry_->next = head.load();
  while (!head.compare_exchange_weak(entry_->next, entry_)) {
  }
}

TemporaryName::~TemporaryName() { entry_->used.store(false); }

}  // namespace jb2tool
