#include "thr/thr_entry_gate.h"

#include <time.h>

#include <new>

#include "port/process_barrier.h"
#include "port/spin_wait.h"
#include "port/thread_exit.h"
#include "thr/thr_internal.h"

namespace thrgate {
std::atomic<bool> open{false};
std::atomic<bool> callersFence{true};
PORT_THREAD_LOCAL ThrGateSlot* mySlot = nullptr;
}  // namespace thrgate

namespace {

std::atomic<ThrGateSlot*> allSlots{nullptr};

// Gives the slot back when its thread ends.
void returnSlot(void* slot) {
  thrgate::mySlot = nullptr;
  static_cast<ThrGateSlot*>(slot)->inUse.store(false, std::memory_order_release);
}

ThrGateSlot* reuseFreeSlot() {
  for (ThrGateSlot* slot = allSlots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    bool expected = false;
    if (!slot->inUse.load(std::memory_order_relaxed) &&
        slot->inUse.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
      return slot;
    }
  }
  return nullptr;
}

ThrGateSlot* newSlot() {
  auto* slot = new (std::nothrow) ThrGateSlot;
  if (slot == nullptr) return nullptr;
  slot->inUse.store(true, std::memory_order_relaxed);
  ThrGateSlot* head = allSlots.load(std::memory_order_relaxed);
  do {
    slot->next = head;
  } while (!allSlots.compare_exchange_weak(head, slot, std::memory_order_release, std::memory_order_relaxed));
  return slot;
}

void pause(int round) {
  if (round < 100) {
    portYieldThread();
    return;
  }
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
}

}  // namespace

ThrGateSlot* thrgate::claimSlot() {
  ThrGateSlot* slot = reuseFreeSlot();
  if (slot == nullptr) slot = newSlot();
  if (slot == nullptr) return nullptr;
  slot->depth.store(0, std::memory_order_relaxed);
  portAtThreadExit(returnSlot, slot);  // refused: the slot stays taken, which costs only its memory
  mySlot = slot;
  return slot;
}

ThrGateSlot* thrgate::firstSlot() { return allSlots.load(std::memory_order_acquire); }

uint32_t ThrGateDepth() {
  const ThrGateSlot* slot = thrgate::mySlot;
  return slot != nullptr ? slot->depth.load(std::memory_order_relaxed) : 0;
}

void ThrGateOpen() {
  thrRegisterForkHandler();
  thrgate::callersFence.store(!portPrepareProcessBarrier(), std::memory_order_relaxed);
  thrgate::open.store(true, std::memory_order_seq_cst);
}

void ThrGateCloseAndDrain() {
  thrgate::open.store(false, std::memory_order_seq_cst);
  // Makes every caller's depth store that came before its look at the flag
  // visible here; a caller that looks later sees the gate shut.
  ThrHeavyFence();
  const ThrGateSlot* mine = thrgate::mySlot;
  for (ThrGateSlot* slot = allSlots.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    if (slot == mine) continue;
    for (int round = 0; slot->depth.load(std::memory_order_acquire) != 0; ++round) pause(round);
  }
}

void ThrGateForgetOtherThreads() {
  thrgate::open.store(false, std::memory_order_relaxed);
  portForgetProcessBarrier();
  for (ThrGateSlot* slot = allSlots.load(std::memory_order_relaxed); slot != nullptr; slot = slot->next) {
    if (slot == thrgate::mySlot) continue;
    slot->depth.store(0, std::memory_order_relaxed);
    slot->lightReads.store(0, std::memory_order_relaxed);
    slot->inUse.store(false, std::memory_order_relaxed);
  }
}
