// libFuzzer target: any octets through the decoder, with the default limits and with tight
// ones; what it accepts must encode to a message that decodes to the same again.
#include "ipp/ippmessage.h"

#include <cstdlib>

namespace {

void DecodeAndRoundTrip(std::string_view bytes, const IppLimits& limits) {
  IppDecodeResult result = DecodeIppMessage(bytes, limits);
  if (result.status != IppDecodeStatus::kComplete) return;
  if (result.consumed > bytes.size()) abort();
  std::string encoded = EncodeIppMessage(result.message);
  IppDecodeResult again = DecodeIppMessage(encoded, limits);  // encoding never grows a message
  if (again.status != IppDecodeStatus::kComplete || again.consumed != encoded.size()) abort();
  if (EncodeIppMessage(again.message) != encoded) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DecodeAndRoundTrip(bytes, IppLimits());
  DecodeAndRoundTrip(bytes, IppLimits{.maxMessageBytes = 4096,
                                      .maxAttributes = 20,
                                      .maxValues = 4,
                                      .maxValueBytes = 64,
                                      .maxNameBytes = 16,
                                      .maxCollectionDepth = 2});
  return 0;
}
