// A memory barrier on every running thread of the process, issued by one
// thread. It lets frequent code pair a plain compiler barrier with a rare
// heavy barrier on the other side, instead of paying a hardware fence on
// every pass.
#pragma once

// Sets the barrier up (once per process image; again after a fork). False
// when this system offers no process-wide barrier: the frequent side must
// then fence itself.
bool portPrepareProcessBarrier();
// Issues the barrier; false when it failed or was never prepared.
bool portProcessBarrier();
// A forked child must prepare again.
void portForgetProcessBarrier();
