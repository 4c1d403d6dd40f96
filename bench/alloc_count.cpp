// LD_PRELOAD library: counts the heap allocations of a process (malloc, calloc,
// realloc; operator new goes through malloc) and, at exit, appends
// "<allocations> <peak resident KiB>" to the file named by $BENCH_ALLOC_OUT.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
}

namespace {
std::atomic<unsigned long> g_allocations{0};
}

extern "C" void* malloc(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}

extern "C" void* calloc(std::size_t count, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, n);
}

extern "C" void* realloc(void* p, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}

__attribute__((destructor)) static void Report() {
  const char* out = std::getenv("BENCH_ALLOC_OUT");
  if (!out) return;
  struct rusage u;
  ::getrusage(RUSAGE_SELF, &u);
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%lu %ld\n", g_allocations.load(), u.ru_maxrss);
  const int fd = ::open(out, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  if (::write(fd, line, static_cast<std::size_t>(n)) < 0) {
  }
  ::close(fd);
}
