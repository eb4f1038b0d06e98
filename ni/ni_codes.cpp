// Names and texts of the return codes, names of the handle states.
#include "dptrc/dptrc.h"
#include "ni/ni.h"

namespace {

struct CodeEntry {
  int code;
  const char* name;
  const char* text;  // nullptr: no text of its own
};

constexpr char kInternalText[] = "internal error\n(this retcode should be handled by caller of NI-layer)";
constexpr char kUnknown[] = "*** ERROR ***";

constexpr CodeEntry kCodes[] = {
    {VEL_O_K, "VEL_O_K", nullptr},
    {NIEINTERN, "NIEINTERN", "internal error"},
    {NIEHOST_UNKNOWN, "NIEHOST_UNKNOWN", "hostname '%s' unknown"},
    {NIESERV_UNKNOWN, "NIESERV_UNKNOWN", "service '%s' unknown"},
    {NIESERV_USED, "NIESERV_USED", "service '%s' in use"},
    {NIETIMEOUT, "NIETIMEOUT", "timeout occured"},
    {NIECONN_BROKEN, "NIECONN_BROKEN", "connection to partner '%s' broken"},
    {NIETOO_SMALL, "NIETOO_SMALL", kInternalText},
    {NIEINVAL, "NIEINVAL", kInternalText},
    {NIECONN_REFUSED, "NIECONN_REFUSED", "partner '%s' not reached"},
    {NIEPING, "NIEPING", kInternalText},
    {NIECONN_PENDING, "NIECONN_PENDING", "timeout while pending for route completion"},
    {NIEVERSION, "NIEVERSION", "invalid client version"},
    {NIENOFREEPORT, "NIENOFREEPORT", "no free connect port found within range"},
    {NIEMYHOST_VERIFY, "NIEMYHOST_VERIFY", "verify own hostname '%s' failed"},
    {NIESNC_FAILURE, "NIESNC_FAILURE", "SNC processing failed:\n%s"},
    {NIEOPCODE, "NIEOPCODE", "Opcode received"},
    {NIEQUE_FULL, "NIEQUE_FULL", "Queue overflow"},
    {NIETOO_BIG, "NIETOO_BIG", "Network packet too big"},
    {NIEACCEPT, "NIEACCEPT", "Accepted handle pending"},
    {NIEPASSED, "NIEPASSED", "Handle passed to other process"},
    {NIENO_ANSWER, "NIENO_ANSWER", nullptr},
    {NIECALL, "NIECALL", "Unexpected function call"},
    {-90, "NIEROUT_HOST_UNKNOWN", nullptr},
    {-91, "NIEROUT_SERV_UNKNOWN", nullptr},
    {-92, "NIEROUT_CONN_REFUSED", nullptr},
    {-93, "NIEROUT_INTERN", nullptr},
    {-94, "NIEROUT_PERM_DENIED", nullptr},
    {-95, "NIEROUT_CONN_BROKEN", nullptr},
    {-96, "NIEROUT_VERSION", nullptr},
    {-97, "NIEROUT_CANCELED", nullptr},
    {-98, "NIEROUT_SHUTDOWN", nullptr},
    {-99, "NIEROUT_INFO_DENIED", nullptr},
    {-100, "NIEROUT_OVERFLOW", nullptr},
    {-101, "NIEROUT_MODE_DENIED", nullptr},
    {-102, "NIEROUT_NOCLIENT", nullptr},
    {-103, "NIEROUT_EXTERN", nullptr},
    {NIEROUT_SNC_FAILURE, "NIEROUT_SNC_FAILURE", nullptr},
};

const CodeEntry* findCode(int code) {
  for (const CodeEntry& entry : kCodes) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* NiErrName(int code) {
  if (const CodeEntry* entry = findCode(code)) return entry->name;
  MOX_TRC(1, "NiErrName: unknown error %d\n", code);
  return kUnknown;
}

const char* NiErrText(int code) {
  const CodeEntry* entry = findCode(code);
  if (entry != nullptr && entry->text != nullptr) return entry->text;
  MOX_TRC(1, "NiErrText: unknown error %d\n", code);
  return kUnknown;
}

const char* NiHdlStateName(int state) {
  switch (state) {
    case NI_FREE: return "NI_FREE";
    case NI_INITIAL_LIS: return "NI_INITIAL_LIS";
    case NI_INITIAL_RIL: return "NI_INITIAL_RIL";
    case NI_INITIAL_CON: return "NI_INITIAL_CON";
    case NI_LISTEN: return "NI_LISTEN";
    case NI_RI_LISTEN: return "NI_RI_LISTEN";
    case NI_CONN_WAIT: return "NI_CONN_WAIT";
    case NI_CONNECTED: return "NI_CONNECTED";
    case NI_ACCEPTED: return "NI_ACCEPTED";
    case NI_DG_CONNECTED: return "NI_DG_CONNECTED";
    case NI_DG_UNCONNECTED: return "NI_DG_UNCONNECTED";
    default: return "INVALID";
  }
}
