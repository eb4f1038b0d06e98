/*
 * mox: in-process instrumentation library for native server components.
 *
 * The whole interface is these 60 plain functions. Strings are NUL-terminated
 * UTF-16 (mox_char); a null string pointer counts as an empty string unless
 * said otherwise. No call reports a failure to the host: each returns its
 * neutral result (nothing, 0, or a length) and at most writes a line to the
 * library's trace file "<name>_mox.trc".
 *
 * Threads: every function may be called from any thread at any time. Calls
 * other than the lifecycle ones do nothing (neutral result) unless the
 * library is initialised; most also need instrument_level_threshold not 0
 * ("active" below). Exit waits for calls in flight and turns away calls that
 * arrive while it runs. Lifecycle calls made from a callback that the library
 * runs (a session-id function, a resource callback) are ignored.
 *
 * Session: the plain functions act on the unit of work of the calling thread;
 * the Ex forms on the one named by the string the host's getSessionId returns
 * (neutral result when the function is null or returns an empty string).
 *
 * Units: elapsed times in milliseconds, CPU times in microseconds, intervals
 * in seconds. A timing id of 0 means "not timed"; every call given 0 does
 * nothing.
 *
 * String getters share one buffer convention: size is in characters; if it
 * is not larger than the result's length, nothing is written and the result
 * is length + 1 (the size needed); otherwise the string and a NUL are copied
 * and the result is the length.
 */
#ifndef MOX_H
#define MOX_H

#include <stdint.h>

#ifdef __cplusplus
typedef char16_t mox_char;
extern "C" {
#else
typedef uint_least16_t mox_char;
#endif

/* Returns the session id of the current unit of work (for the Ex calls). */
typedef const mox_char* (*MOX_SessionIdFunc)(void);
/* A resource callback, run by the library before each data interval is sent. */
typedef void (*MOX_ResourceCallBack)(void);

/* ---- lifecycle ---------------------------------------------------------- */
/* Initialises the library with the process name and instance number (-1: the
 * process id) from mox.conf in $MOX_CONFIG, else /usr/vel/mox/config, else the
 * working directory (built-in defaults without one). A further call of any
 * init function only counts (nesting); init and exit never run concurrently. */
void MOX_ProcInit(const mox_char* name, int16_t instance);
/* As MOX_ProcInit, configured from the built-in defaults and count (key, value)
 * pairs: pairs holds 2 * count pointers. */
void MOX_ProcInitWithParam(const mox_char* name, int16_t instance, uint32_t count, const mox_char* const* pairs);
/* As MOX_ProcInit, with mox.conf read from dir (null or empty: the working directory). */
void MOX_ProcInitWithProfilePath(const mox_char* name, int16_t instance, const mox_char* dir);
/* Ends the library whatever the nesting: stops its threads, sends the last
 * interval's data, frees everything. Nothing before init. */
void MOX_ProcExit(void);
/* Undoes one init; ends the library at the last one. Returns the count left. */
uint16_t MOX_ProcExitNestable(void);
/* Active: adds prefix to the process identity in metric names and sets the two
 * built-in context counters back to 0. */
void MOX_setInstancePrefix(const mox_char* prefix);

/* ---- contexts and timing ------------------------------------------------ */
/* Active: opens (or reopens, empty) the session's unit of work with an incoming
 * passport (hexadecimal end-to-end passport or "GUID*flag"; null or empty: none),
 * which may switch transaction tracing on for it. */
void MOX_initContext(const mox_char* passport);
void MOX_initContextEx(MOX_SessionIdFunc getSessionId, const mox_char* passport);
/* Active and level below a threshold: starts a timed call of component|method
 * inside the session's unit of work (opened on demand). Returns its timing id,
 * 0 when not timed. */
uint32_t MOX_startTiming(const mox_char* component, const mox_char* method, uint16_t level);
uint32_t MOX_startTimingEx(MOX_SessionIdFunc getSessionId, const mox_char* component, const mox_char* method,
                           uint16_t level);
/* Active: ends the timed call (inner calls still open end without times); the
 * end of the first call ends the unit of work. */
void MOX_endTiming(uint32_t recId);
void MOX_endTimingEx(MOX_SessionIdFunc getSessionId, uint32_t recId);
/* Active: ends the timed call as aborted, counted but with its times. */
void MOX_terminateTiming(uint32_t recId);
void MOX_terminateTimingEx(MOX_SessionIdFunc getSessionId, uint32_t recId);
/* Active: aborts every open call of the unit of work, which then refuses
 * timing until MOX_initContext. */
void MOX_terminateTimingAll(void);
void MOX_terminateTimingAllEx(MOX_SessionIdFunc getSessionId);

/* ---- information -------------------------------------------------------- */
/* All active; shown in transaction traces only. Context information belongs to
 * the unit of work (name replaced if present); call information belongs to
 * the open call recId and is kept only while it is the innermost open call
 * of a traced unit of work. ToList appends "," and value to an existing value.
 * The fixed names: "User ID", "Method Call Parameter <paramName>" (names of up
 * to 233 characters; longer ones are cut), "Return Value", "Exception" and
 * "outbound.VEL-PASSPORT" (toList chooses the list form). */
void MOX_appendContextInfo(const mox_char* name, const mox_char* value);
void MOX_appendContextInfoEx(MOX_SessionIdFunc getSessionId, const mox_char* name, const mox_char* value);
void MOX_appendUserID(const mox_char* userId);
void MOX_appendUserIDEx(MOX_SessionIdFunc getSessionId, const mox_char* userId);
void MOX_appendInfo(uint32_t recId, const mox_char* name, const mox_char* value);
void MOX_appendInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* name, const mox_char* value);
void MOX_appendInfoToList(uint32_t recId, const mox_char* name, const mox_char* value);
void MOX_appendInfoToListEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* name,
                            const mox_char* value);
void MOX_appendParameterInfo(uint32_t recId, const mox_char* paramName, const mox_char* value);
void MOX_appendParameterInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* paramName,
                               const mox_char* value);
void MOX_appendReturnInfo(uint32_t recId, const mox_char* value);
void MOX_appendReturnInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* value);
void MOX_appendExceptionInfo(uint32_t recId, const mox_char* value);
void MOX_appendExceptionInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* value);
void MOX_appendPassportInfo(uint32_t recId, const mox_char* passport, uint8_t toList);
void MOX_appendPassportInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* passport, uint8_t toList);

/* ---- passports ---------------------------------------------------------- */
/* Active: the trace flag and trace level of the session's incoming passport
 * (0 without a unit of work). The "2" forms read a passport string given by
 * the caller instead (initialised; 0 when it cannot be read). */
int16_t MOX_getTraceFlag(void);
int16_t MOX_getTraceFlagEx(MOX_SessionIdFunc getSessionId);
int16_t MOX_getTraceLevel(void);
int16_t MOX_getTraceLevelEx(MOX_SessionIdFunc getSessionId);
int16_t MOX_getTraceLevel2(const mox_char* passport);
/* Active: the unit of work's trace GUID (32 upper-case hexadecimal digits),
 * buffer convention. */
uint32_t MOX_getTraceGuid(mox_char* buffer, uint32_t size);
uint32_t MOX_getTraceGuidEx(MOX_SessionIdFunc getSessionId, mox_char* buffer, uint32_t size);
/* Active: a passport to hand on to the next component (hexadecimal, version 3,
 * counting up per call), buffer convention. */
uint32_t MOX_getPassport(mox_char* buffer, uint32_t size);
uint32_t MOX_getPassportEx(MOX_SessionIdFunc getSessionId, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassport2(const mox_char* passport, mox_char* buffer, uint32_t size);
/* Active: one element of the passport: 1 transaction id, 2 root context id,
 * 3 connection id, 4 connection counter; other numbers give "". */
uint32_t MOX_getPassportElement(uint16_t element, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassportElementEx(MOX_SessionIdFunc getSessionId, uint16_t element, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassportElement2(const mox_char* passport, uint16_t element, mox_char* buffer, uint32_t size);

/* ---- resources and KPIs ------------------------------------------------- */
/* All active; a null name is ignored. A resource keeps its current value from
 * interval to interval; it is sent (with the interval's high and low
 * watermarks and count) only in intervals in which it was reported. flag 0: a
 * full counter, otherwise a plain value. Arithmetic on the value wraps. */
void MOX_initializeResource(const mox_char* name, int64_t value, int16_t flag);
void MOX_increaseResource(const mox_char* name, int64_t amount);
void MOX_decreaseResource(const mox_char* name, int64_t amount);
/* Sets current and merges the host's own watermarks and count into the interval's. */
void MOX_reportResource(const mox_char* name, int64_t current, int64_t high, int64_t low, uint32_t count, int16_t flag);
/* A named value sent after its resource, in this interval only (and only if
 * the resource is reported in it). */
void MOX_reportResourceKPI(const mox_char* name, const mox_char* kpiName, int64_t value);
/* Registers callback under id (an id already registered keeps its first one):
 * the library's data thread calls it just before sending, every interval
 * seconds on the wall-clock grid offset by offset (at every send when interval
 * is not longer than datasending_interval). A callback may report resources
 * and (de)register callbacks. */
void MOX_registerResourceCallBack(uint32_t id, MOX_ResourceCallBack callback, uint32_t interval, int32_t offset);
void MOX_deregisterResourceCallBack(uint32_t id);

/* ---- run-time parameters ------------------------------------------------ */
/* Initialised: the instrument level threshold (0 switches measuring off; not
 * changeable when initialised from parameter pairs). */
void MOX_changeInstruLevelThreshold(uint16_t level);
/* Initialised: the threshold of one component, for new units of work; the
 * second for traced ones. */
void MOX_changeInstruLevelThresholdForComponent(const mox_char* component, uint16_t level);
void MOX_changeTraceInstruLevelThresholdForComponent(const mox_char* component, uint16_t level);
/* Initialised: the data sending interval in seconds (15 to 999999999; values
 * outside are clamped); takes effect at the data timer's next tick. */
void MOX_changeDataSendingInterval(uint32_t interval);
/* Initialised: prints every parameter on standard output. */
void MOX_checkActiveParameter(void);
/* The value of one parameter as text, buffer convention (before init, and for
 * an unknown name, the empty text); 0 for a null or empty name. */
uint32_t MOX_getSingleParameterValue(const mox_char* name, mox_char* buffer, uint32_t size);
/* The size of mox_char in bytes: 2. */
uint32_t MOX_getCharSize(void);

/* ---- data --------------------------------------------------------------- */
/* Active and datasending_interval not 0: sends the traces and metrics
 * collected so far, in the calling thread (a send already running in another
 * thread makes it return at once). */
void MOX_outputMetricData(void);

#ifdef __cplusplus
}
#endif

#endif /* MOX_H */
