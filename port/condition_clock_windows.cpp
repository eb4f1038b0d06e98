// winpthread measures an absolute deadline against the system time whatever
// clock the condition's attributes name, so the deadlines are made on it.
#include "port/clock.h"
#include "port/condition_clock.h"

int portInitCondition(pthread_cond_t* c) { return pthread_cond_init(c, nullptr); }

bool portReadConditionClock(timespec* now) { return portReadWallClock(now); }
