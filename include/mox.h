/*
 * mox: in-process instrumentation library for native server components.
 *
 * The whole interface is these 60 plain functions. Strings are NUL-terminated
 * UTF-16 (mox_char). No call reports a failure to the host: each returns its
 * neutral result (nothing, 0, or a length) and at most writes a line to the
 * library's trace file "<name>_mox.trc".
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
void MOX_ProcInit(const mox_char* name, int16_t instance);
/* pairs holds count consecutive (key, value) pointer pairs: 2 * count pointers. */
void MOX_ProcInitWithParam(const mox_char* name, int16_t instance, uint32_t count, const mox_char* const* pairs);
void MOX_ProcInitWithProfilePath(const mox_char* name, int16_t instance, const mox_char* dir);
void MOX_ProcExit(void);
uint16_t MOX_ProcExitNestable(void);
void MOX_setInstancePrefix(const mox_char* prefix);

/* ---- contexts and timing ------------------------------------------------ */
void MOX_initContext(const mox_char* passport);
void MOX_initContextEx(MOX_SessionIdFunc getSessionId, const mox_char* passport);
uint32_t MOX_startTiming(const mox_char* component, const mox_char* method, uint16_t level);
uint32_t MOX_startTimingEx(MOX_SessionIdFunc getSessionId, const mox_char* component, const mox_char* method,
                           uint16_t level);
void MOX_endTiming(uint32_t recId);
void MOX_endTimingEx(MOX_SessionIdFunc getSessionId, uint32_t recId);
void MOX_terminateTiming(uint32_t recId);
void MOX_terminateTimingEx(MOX_SessionIdFunc getSessionId, uint32_t recId);
void MOX_terminateTimingAll(void);
void MOX_terminateTimingAllEx(MOX_SessionIdFunc getSessionId);

/* ---- information -------------------------------------------------------- */
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
void MOX_appendPassportInfoEx(MOX_SessionIdFunc getSessionId, uint32_t recId, const mox_char* passport,
                              uint8_t toList);

/* ---- passports ---------------------------------------------------------- */
int16_t MOX_getTraceFlag(void);
int16_t MOX_getTraceFlagEx(MOX_SessionIdFunc getSessionId);
int16_t MOX_getTraceLevel(void);
int16_t MOX_getTraceLevelEx(MOX_SessionIdFunc getSessionId);
int16_t MOX_getTraceLevel2(const mox_char* passport);
uint32_t MOX_getTraceGuid(mox_char* buffer, uint32_t size);
uint32_t MOX_getTraceGuidEx(MOX_SessionIdFunc getSessionId, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassport(mox_char* buffer, uint32_t size);
uint32_t MOX_getPassportEx(MOX_SessionIdFunc getSessionId, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassport2(const mox_char* passport, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassportElement(uint16_t element, mox_char* buffer, uint32_t size);
uint32_t MOX_getPassportElementEx(MOX_SessionIdFunc getSessionId, uint16_t element, mox_char* buffer,
                                  uint32_t size);
uint32_t MOX_getPassportElement2(const mox_char* passport, uint16_t element, mox_char* buffer, uint32_t size);

/* ---- resources and KPIs ------------------------------------------------- */
void MOX_initializeResource(const mox_char* name, int64_t value, int16_t flag);
void MOX_increaseResource(const mox_char* name, int64_t amount);
void MOX_decreaseResource(const mox_char* name, int64_t amount);
void MOX_reportResource(const mox_char* name, int64_t current, int64_t high, int64_t low, uint32_t count,
                        int16_t flag);
void MOX_reportResourceKPI(const mox_char* name, const mox_char* kpiName, int64_t value);
void MOX_registerResourceCallBack(uint32_t id, MOX_ResourceCallBack callback, uint32_t interval, int32_t offset);
void MOX_deregisterResourceCallBack(uint32_t id);

/* ---- run-time parameters ------------------------------------------------ */
void MOX_changeInstruLevelThreshold(uint16_t level);
void MOX_changeInstruLevelThresholdForComponent(const mox_char* component, uint16_t level);
void MOX_changeTraceInstruLevelThresholdForComponent(const mox_char* component, uint16_t level);
void MOX_changeDataSendingInterval(uint32_t interval);
void MOX_checkActiveParameter(void);
uint32_t MOX_getSingleParameterValue(const mox_char* name, mox_char* buffer, uint32_t size);
uint32_t MOX_getCharSize(void);

/* ---- data --------------------------------------------------------------- */
/* Sends the traces and metrics collected so far, in the calling thread. */
void MOX_outputMetricData(void);

#ifdef __cplusplus
}
#endif

#endif /* MOX_H */
