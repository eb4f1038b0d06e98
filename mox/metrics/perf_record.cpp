#include "mox/metrics/perf_record.h"

#include <algorithm>
#include <new>
#include <utility>

CPerfRecord::CPerfRecord(std::u16string key, uint32_t active) : key_(std::move(key)), everRunning_(active != 0) {
  v_.active = active;
}

CPerfRecord::~CPerfRecord() { delete stripes_.load(std::memory_order_acquire); }

void CPerfRecord::apply(const PerfUpdate& update) {
  PerfStripes* stripes = stripes_.load(std::memory_order_acquire);
  if (stripes == nullptr) {
    if (lock_.try_lock()) {
      applyHeld(update);
      return;
    }
    stripes = spread();
    if (stripes == nullptr) {
      lock_.lock();
      applyHeld(update);
      return;
    }
  }
  applyToStripe(stripes->hold(), update);
}

void CPerfRecord::applyHeld(const PerfUpdate& update) {
  if (update.skipped) v_.skipped = true;
  if (update.incActive) {
    ++v_.active;
    noteRunning();
  }
  if (update.addTimes) addTimes(v_, update);
  bool lookElsewhere = false;
  if (update.end != PerfUpdate::End::None) {
    ++(update.end == PerfUpdate::End::Finished ? v_.finished : v_.terminated);
    if (v_.active > 0) {
      --v_.active;
    } else if (stripes_.load(std::memory_order_acquire) == nullptr || !everRunning_.load(std::memory_order_acquire)) {
      ++unmatchedEnds_;
    } else {
      lookElsewhere = true;
    }
  }
  lock_.unlock();
  if (lookElsewhere) endElsewhere(nullptr);
}

void CPerfRecord::applyToStripe(PerfStripe& stripe, const PerfUpdate& update) {
  bool lookElsewhere = false;
  {
    stripe.lock.assertHeld();
    ThrSpinGuard hold(stripe.lock, std::adopt_lock);
    PerfValues& v = stripe.v;
    if (update.skipped) v.skipped = true;
    if (update.incActive) {
      ++v.active;
      noteRunning();
    }
    if (update.addTimes) stripe.restarted |= addTimes(v, update);
    if (update.end != PerfUpdate::End::None) {
      ++(update.end == PerfUpdate::End::Finished ? v.finished : v.terminated);
      if (v.active > 0) {
        --v.active;
      } else if (everRunning_.load(std::memory_order_acquire)) {
        lookElsewhere = true;
      } else {
        ++stripe.unmatchedEnds;
      }
    }
  }
  if (lookElsewhere) endElsewhere(&stripe);
}

// First one lock at a time, which finds a running timing at once as a rule.
// Finding none that way proves nothing (a count may have come in behind the
// walk), so the answer is then decided with every lock held, as one step.
void CPerfRecord::endElsewhere(const PerfStripe* skip) {
  PerfStripes* stripes = stripes_.load(std::memory_order_acquire);
  for (PerfStripe& stripe : stripes->stripes) {
    if (&stripe == skip) continue;
    ThrSpinGuard hold(stripe.lock);
    if (stripe.v.active > 0) {
      --stripe.v.active;
      return;
    }
  }
  withAllLocked(*stripes, [this, stripes]() NO_THREAD_SAFETY_ANALYSIS {
    uint32_t* running = v_.active > 0 ? &v_.active : nullptr;
    for (PerfStripe& stripe : stripes->stripes) {
      if (running == nullptr && stripe.v.active > 0) running = &stripe.v.active;
    }
    if (running != nullptr) {
      --*running;
    } else {
      ++unmatchedEnds_;
    }
  });
}

// Always the record's own lock first, then the stripes in order: the only
// places that hold more than one.
template <typename Work>
void CPerfRecord::withAllLocked(const PerfStripes& stripes, Work&& work) const NO_THREAD_SAFETY_ANALYSIS {
  lock_.lock();
  for (const PerfStripe& stripe : stripes.stripes) stripe.lock.lock();
  work();
  for (const PerfStripe& stripe : stripes.stripes) stripe.lock.unlock();
  lock_.unlock();
}

PerfStripes* CPerfRecord::spread() {
  auto* made = new (std::nothrow) PerfStripes();
  if (made == nullptr) return stripes_.load(std::memory_order_acquire);
  PerfStripes* expected = nullptr;
  if (stripes_.compare_exchange_strong(expected, made, std::memory_order_acq_rel, std::memory_order_acquire)) {
    return made;
  }
  delete made;  // another thread's came first
  return expected;
}

// Carried timings are counted in the record's own values; the unmatched
// ends they cover may have been counted anywhere.
void CPerfRecord::carryIn(uint32_t running, bool skipped) NO_THREAD_SAFETY_ANALYSIS {
  if (running != 0) noteRunning();
  const auto carry = [&]() NO_THREAD_SAFETY_ANALYSIS {
    if (skipped) v_.skipped = true;
    uint32_t left = running;
    const auto match = [&left](uint32_t& unmatched) {
      const uint32_t matched = std::min(left, unmatched);
      unmatched -= matched;
      left -= matched;
    };
    match(unmatchedEnds_);
    PerfStripes* stripes = stripes_.load(std::memory_order_acquire);
    if (stripes != nullptr) {
      for (PerfStripe& stripe : stripes->stripes) match(stripe.unmatchedEnds);
    }
    v_.active += left;
  };
  PerfStripes* stripes = stripes_.load(std::memory_order_acquire);
  if (stripes == nullptr) {
    ThrSpinGuard hold(lock_);
    // Striped meanwhile: the stripes' counts are read under their locks.
    if (stripes_.load(std::memory_order_acquire) == nullptr) {
      carry();
      return;
    }
  }
  withAllLocked(*stripes_.load(std::memory_order_acquire), carry);
}

uint32_t CPerfRecord::active() const { return snapshot().active; }

// The record's own values come first: a thread's updates reach its stripe
// only after the ones that went to the record before it was striped.
PerfValues CPerfRecord::snapshot() const NO_THREAD_SAFETY_ANALYSIS {
  const PerfStripes* stripes = stripes_.load(std::memory_order_acquire);
  if (stripes == nullptr) {
    ThrSpinGuard hold(lock_);
    return v_;
  }
  PerfValues values;
  withAllLocked(*stripes, [&]() NO_THREAD_SAFETY_ANALYSIS {
    values = v_;
    for (const PerfStripe& stripe : stripes->stripes) foldLater(values, stripe.v, stripe.restarted);
  });
  return values;
}
