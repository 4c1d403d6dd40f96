#include "handset/handset.h"

#include <algorithm>

#include "handset/impl.h"

namespace handset {

Handset::Handset() : impl_(new Impl) {}
Handset::~Handset() { delete impl_; }

void Handset::SetContent(const Content& content) {
  std::lock_guard<std::mutex> serving(impl_->filesMu);
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->spilled.clear();
  impl_->content = content;
  impl_->hasFolder = false;
}

bool Handset::LoadFolder(const std::filesystem::path& dir, std::string* error) {
  Content c;
  if (!LoadContent(dir, &c, error)) return false;
  std::lock_guard<std::mutex> serving(impl_->filesMu);
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->spilled.clear();
  impl_->content = std::move(c);
  impl_->folder = dir;
  impl_->hasFolder = true;
  return true;
}

Content Handset::GetContent() const {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->spilled.empty()) return impl_->content;
  }
  std::lock_guard<std::mutex> serving(impl_->filesMu);
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->LoadSpilledLocked();
  return impl_->content;
}

void Handset::SetPin(const std::string& pin) { impl_->Set(impl_->pin, pin); }
void Handset::SetIdleResetMs(int ms) { impl_->Set(impl_->idleResetMs, ms); }
void Handset::SetStallMs(int ms) { impl_->Set(impl_->stallMs, ms); }
void Handset::SetThrottle(long bytesPerSecond) { impl_->Set(impl_->throttle, bytesPerSecond); }
void Handset::SetSeed(unsigned seed) { impl_->Set(impl_->seed, seed); }
void Handset::KeepLog(bool keep) { impl_->Set(impl_->keepLog, keep); }
void Handset::SetTrace(std::function<void(const std::string&)> trace) {
  impl_->Set(impl_->trace, std::move(trace));
}

void Handset::Stop() { stop_ = true; }

std::vector<Frame> Handset::Items(unsigned group) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->ItemsLocked(group);
}

void Handset::OverrideItems(unsigned group, std::vector<Frame> frames) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->itemOverrides[group] = std::move(frames);
}

void Handset::OverrideReply(unsigned code, unsigned group, unsigned operation,
                            const std::string& payload, int times) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::uint32_t key = Key(code, group, operation);
  auto& r = impl_->replies;
  r.erase(std::remove_if(r.begin(), r.end(), [&](const auto& o) { return o.key == key; }), r.end());
  r.push_back({key, payload, times});
}

void Handset::RefuseUpload(unsigned group, int index, const std::string& reply) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->refusals.push_back({group, index, reply});
}

void Handset::AddFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->faults.push_back({fault, 0});
}

void Handset::ClearControl() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->itemOverrides.clear();
  impl_->replies.clear();
  impl_->refusals.clear();
  impl_->faults.clear();
}

std::vector<LoggedRequest> Handset::Log() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->log;
}

std::vector<std::string> Handset::Violations() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->violations;
}

void Handset::ClearLog() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->log.clear();
  impl_->handled = 0;
  impl_->violations.clear();
}

bool Handset::WaitFor(const std::function<bool(const std::vector<LoggedRequest>&)>& pred,
                      int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  // Only once the request has been dealt with, so its deviations are in too.
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return impl_->handled == impl_->log.size() && pred(impl_->log);
  });
}

bool Handset::WaitForRequest(unsigned code, unsigned group, unsigned operation, int count,
                             int timeoutMs) const {
  return WaitFor(
      [&](const std::vector<LoggedRequest>& log) {
        int n = 0;
        for (const LoggedRequest& r : log) n += r.Is(code, group, operation) ? 1 : 0;
        return n >= count;
      },
      timeoutMs);
}

}  // namespace handset
