#include "ippprinter/jobticket.h"

#include <algorithm>
#include <cstdlib>

#include "ippprinter/documentformat.h"
#include "ippprinter/ippcodes.h"
#include "ippprinter/ippresponse.h"
#include "ippprinter/printerattributes.h"

namespace {

// Sizes closer than a millimetre are the same sheet.
constexpr int32_t kSizeTolerance = 100;

bool Offers(const std::vector<std::string>& offered, const std::string& word) {
  return std::find(offered.begin(), offered.end(), word) != offered.end();
}

// The offered media the media-col's media-size names; "" when none.
std::string MediaOfCollection(const IppValue& col, const std::vector<std::string>& offered) {
  if (col.tag != IppTag::kBeginCollection) return {};
  int32_t width = -1;
  int32_t length = -1;
  for (const IppAttribute& member : col.members) {
    if (member.name != "media-size" || member.values.size() != 1) continue;
    for (const IppAttribute& dimension : member.values[0].members) {
      const IppValue* value = SingleValue(&dimension, IppTag::kInteger);
      if (value == nullptr) continue;
      if (dimension.name == "x-dimension") width = value->integer;
      if (dimension.name == "y-dimension") length = value->integer;
    }
  }
  for (const std::string& name : offered) {
    const auto size = SizeOfMediaName(name);
    if (std::abs(size->width - width) < kSizeTolerance && std::abs(size->length - length) < kSizeTolerance) return name;
  }
  return {};
}

// One job template attribute: its spooler option when supported, "" when it needs none,
// nullopt when it is not supported.
std::optional<PrintOptions::value_type> ReadTemplate(const IppAttribute& a, const QueueCapabilities& queue) {
  using Option = PrintOptions::value_type;
  const std::vector<std::string> media = OfferedMedia(queue);
  if (a.name == "copies") {
    const IppValue* v = SingleValue(&a, IppTag::kInteger);
    if (v != nullptr && v->integer >= 1 && v->integer <= 99) return Option{"copies", std::to_string(v->integer)};
  } else if (a.name == "sides") {
    const IppValue* v = SingleValue(&a, IppTag::kKeyword);
    if (v != nullptr && (v->text == "one-sided" ||
                         (queue.duplex && (v->text == "two-sided-long-edge" || v->text == "two-sided-short-edge")))) {
      return Option{"sides", v->text};
    }
  } else if (a.name == "media") {
    const IppValue* v = SingleValue(&a, IppTag::kKeyword);
    if (v != nullptr && Offers(media, v->text)) return Option{"media", v->text};
  } else if (a.name == "media-col") {
    const std::string name = a.values.size() == 1 ? MediaOfCollection(a.values[0], media) : std::string();
    if (!name.empty()) return Option{"media", name};
  } else if (a.name == "print-color-mode") {
    const IppValue* v = SingleValue(&a, IppTag::kKeyword);
    if (v != nullptr && v->text == "auto") return Option{};
    if (v != nullptr && (v->text == "monochrome" || (queue.color && v->text == "color"))) {
      return Option{"print-color-mode", v->text};
    }
  } else if (a.name == "print-quality") {
    const IppValue* v = SingleValue(&a, IppTag::kEnum);
    if (v != nullptr && v->integer >= 3 && v->integer <= 5) return Option{"print-quality", std::to_string(v->integer)};
  } else if (a.name == "orientation-requested") {
    const IppValue* v = SingleValue(&a, IppTag::kEnum);
    if (v != nullptr && v->integer >= 3 && v->integer <= 6) {
      return Option{"orientation-requested", std::to_string(v->integer)};
    }
  } else if (a.name == "printer-resolution") {
    const IppValue* v = SingleValue(&a, IppTag::kResolution);
    if (v != nullptr && v->integer == 300 && v->upper == 300 && v->units == 3) return Option{};
  } else if (a.name == "finishings") {
    const IppValue* v = SingleValue(&a, IppTag::kEnum);
    if (v != nullptr && v->integer == 3) return Option{};
  } else if (a.name == "output-bin") {
    const IppValue* v = SingleValue(&a, IppTag::kKeyword);
    if (v != nullptr && v->text == "face-down") return Option{};
  }
  return std::nullopt;
}

}  // namespace

uint16_t CheckDocumentAttributes(const IppMessage& request, std::string& format, IppMessage& response) {
  format = kAutoDetectedFormat;
  if (const IppAttribute* declared = OperationAttribute(request, "document-format")) {
    const IppValue* value = SingleValue(declared, IppTag::kMimeMediaType);
    if (value == nullptr || !IsSupportedMimeType(value->text)) {
      AddUnsupported(response, *declared);
      return ippstatus::kDocumentFormatNotSupported;
    }
    format = value->text;
  }
  if (const IppAttribute* compression = OperationAttribute(request, "compression")) {
    const IppValue* value = SingleValue(compression, IppTag::kKeyword);
    if (value == nullptr || value->text != "none") {
      AddUnsupported(response, *compression);
      return ippstatus::kCompressionNotSupported;
    }
  }
  return ippstatus::kOk;
}

JobTicket ReadJobTicket(const IppMessage& request, const QueueCapabilities& queue, IppMessage& response) {
  JobTicket ticket;
  ticket.status = CheckDocumentAttributes(request, ticket.format, response);
  if (ticket.status != ippstatus::kOk) {
    ticket.message = ticket.status == ippstatus::kCompressionNotSupported ? "only uncompressed documents are taken"
                                                                          : "the document format is not supported";
    return ticket;
  }
  ticket.name = NameValue(OperationAttribute(request, "job-name"))
                    .value_or(NameValue(OperationAttribute(request, "document-name")).value_or("Untitled"));
  const IppValue* fidelity = SingleValue(OperationAttribute(request, "ipp-attribute-fidelity"), IppTag::kBoolean);
  bool ignored = false;
  if (const IppGroup* job = FindIppGroup(request, IppTag::kJobGroup)) {
    for (const IppAttribute& attribute : job->attributes) {
      const auto option = ReadTemplate(attribute, queue);
      if (!option) {
        AddUnsupported(response, attribute);
        ignored = true;
      } else if (!option->first.empty()) {
        ticket.options.push_back(*option);
      }
    }
  }
  if (ignored && fidelity != nullptr && fidelity->integer != 0) {
    ticket.status = ippstatus::kAttributesOrValuesNotSupported;
    ticket.message = "the job asks for what this printer cannot do";
  } else if (ignored) {
    ticket.status = ippstatus::kOkIgnoredOrSubstituted;
  }
  return ticket;
}
