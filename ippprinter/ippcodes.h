// The operation and status codes the printer speaks (RFC 8011 section 5.4.15 and 4.1.x,
// PWG 5100.11 for Cancel-My-Jobs and Close-Job).
#pragma once

#include <cstdint>

namespace ippop {
constexpr uint16_t kPrintJob = 0x0002;
constexpr uint16_t kValidateJob = 0x0004;
constexpr uint16_t kCreateJob = 0x0005;
constexpr uint16_t kSendDocument = 0x0006;
constexpr uint16_t kCancelJob = 0x0008;
constexpr uint16_t kGetJobAttributes = 0x0009;
constexpr uint16_t kGetJobs = 0x000A;
constexpr uint16_t kGetPrinterAttributes = 0x000B;
constexpr uint16_t kCancelMyJobs = 0x0039;
constexpr uint16_t kCloseJob = 0x003B;
}  // namespace ippop

namespace ippstatus {
constexpr uint16_t kOk = 0x0000;
constexpr uint16_t kOkIgnoredOrSubstituted = 0x0001;
constexpr uint16_t kBadRequest = 0x0400;
constexpr uint16_t kNotAuthorized = 0x0403;
constexpr uint16_t kNotPossible = 0x0404;
constexpr uint16_t kNotFound = 0x0406;
constexpr uint16_t kRequestEntityTooLarge = 0x0408;
constexpr uint16_t kRequestValueTooLong = 0x0409;
constexpr uint16_t kDocumentFormatNotSupported = 0x040A;
constexpr uint16_t kAttributesOrValuesNotSupported = 0x040B;
constexpr uint16_t kCharsetNotSupported = 0x040D;
constexpr uint16_t kCompressionNotSupported = 0x040F;
constexpr uint16_t kDocumentFormatError = 0x0411;
constexpr uint16_t kInternalError = 0x0500;
constexpr uint16_t kOperationNotSupported = 0x0501;
constexpr uint16_t kVersionNotSupported = 0x0503;
constexpr uint16_t kNotAcceptingJobs = 0x0506;
constexpr uint16_t kJobCanceled = 0x0508;
constexpr uint16_t kMultipleDocumentJobsNotSupported = 0x0509;
constexpr uint16_t kTooManyJobs = 0x050B;
}  // namespace ippstatus

// job-state (RFC 8011 section 5.3.7).
enum class IppJobState : int32_t {
  kPending = 3,
  kPendingHeld = 4,
  kProcessing = 5,
  kProcessingStopped = 6,
  kCanceled = 7,
  kAborted = 8,
  kCompleted = 9,
};

constexpr bool IsFinished(IppJobState state) { return state >= IppJobState::kCanceled; }
