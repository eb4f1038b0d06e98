#include "delivery_check.h"

#include <string_view>

namespace {

// The library's trace lines about its connections to collecting agents.
constexpr std::string_view kConnected = "NI raw handle gets initialized successfully for the first time";
constexpr std::string_view kConnectFailed = "connection to agent destination failed to be established";
constexpr std::string_view kSendFailed = "Failed to send metric data through the socket interface";
constexpr std::string_view kBadHost = "agent failed to be initilized due to incorrect host setting";

bool mentions(const std::string& text, std::string_view line) { return text.find(line) != std::string::npos; }

}  // namespace

Delivery deliveryFromTraceText(const std::string& traceText) {
  if (mentions(traceText, kBadHost)) return Delivery::BadHost;
  const bool failed = mentions(traceText, kConnectFailed) || mentions(traceText, kSendFailed);
  if (!failed) return Delivery::Reached;
  return mentions(traceText, kConnected) ? Delivery::PartlyLost : Delivery::NothingThere;
}
