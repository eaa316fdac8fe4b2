#include "ippprinter/printerattributes.h"

#include <algorithm>
#include <charconv>

#include "text/utf8.h"

#include "ippprinter/documentformat.h"
#include "ippprinter/ippcodes.h"

namespace {

constexpr char kPrinterPath[] = "/ipp/print";
// RFC 8011 section 5.4: printer-name, -info, -location and -make-and-model are at most
// 127 octets.
constexpr size_t kMaxDescriptionBytes = 127;
// A sixth of an inch: what most printers cannot reach at each edge.
constexpr int32_t kMargin = 423;
constexpr int32_t kResolution = 300;

// Attributes whose names start so are job-template attributes of the printer.
constexpr const char* kJobTemplatePrefixes[] = {
    "copies-",     "finishings-",       "media-",         "orientation-requested-",
    "output-bin-", "print-color-mode-", "print-quality-", "printer-resolution-",
    "sides-",      "page-ranges-",      "overrides-",     "multiple-document-handling-",
};

// Parses "210x297mm" or "8.5x11in" into hundredths of a millimetre.
std::optional<int32_t> ParseDimension(std::string_view text, double scale) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0 || value > 10000) return std::nullopt;
  return static_cast<int32_t>(value * scale + 0.5);
}

IppValue Keyword(std::string text) { return IppString(IppTag::kKeyword, std::move(text)); }
IppValue Text(std::string text) { return IppString(IppTag::kTextWithoutLanguage, std::move(text)); }
IppValue Uri(std::string text) { return IppString(IppTag::kUri, std::move(text)); }

std::vector<IppValue> Keywords(const std::vector<std::string>& words) {
  std::vector<IppValue> values;
  for (const std::string& word : words) values.push_back(Keyword(word));
  return values;
}

IppValue MediaSizeValue(const MediaSize& size) {
  return IppCollection({{"x-dimension", {IppInteger(size.width)}}, {"y-dimension", {IppInteger(size.length)}}});
}

IppValue MediaColValue(const MediaSize& size) {
  return IppCollection({{"media-bottom-margin", {IppInteger(kMargin)}},
                        {"media-left-margin", {IppInteger(kMargin)}},
                        {"media-right-margin", {IppInteger(kMargin)}},
                        {"media-size", {MediaSizeValue(size)}},
                        {"media-top-margin", {IppInteger(kMargin)}}});
}

bool IsJobTemplate(const std::string& name) {
  return std::any_of(std::begin(kJobTemplatePrefixes), std::end(kJobTemplatePrefixes),
                     [&](const char* prefix) { return name.starts_with(prefix); });
}

}  // namespace

std::vector<std::string> OfferedMedia(const QueueCapabilities& queue) {
  std::vector<std::string> media;
  for (const std::string& name : queue.media) {
    if (SizeOfMediaName(name) && std::find(media.begin(), media.end(), name) == media.end()) media.push_back(name);
  }
  if (media.empty()) media = {"iso_a4_210x297mm", "na_letter_8.5x11in"};
  return media;
}

std::optional<MediaSize> SizeOfMediaName(const std::string& name) {
  // PWG 5101.1: class_name_size, the name in lower-case letters, digits and hyphens.
  const size_t firstUnderscore = name.find('_');
  const size_t lastUnderscore = name.rfind('_');
  if (firstUnderscore == std::string::npos || lastUnderscore <= firstUnderscore + 1 ||
      name[firstUnderscore + 1] == '-' ||
      name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-", firstUnderscore + 1) < lastUnderscore) {
    return std::nullopt;
  }
  std::string_view dimensions = std::string_view(name).substr(lastUnderscore + 1);
  double scale = 0;
  if (dimensions.ends_with("mm")) {
    scale = 100;
  } else if (dimensions.ends_with("in")) {
    scale = 2540;
  } else {
    return std::nullopt;
  }
  dimensions.remove_suffix(2);
  const size_t by = dimensions.find('x');
  if (by == std::string_view::npos) return std::nullopt;
  const auto width = ParseDimension(dimensions.substr(0, by), scale);
  const auto length = ParseDimension(dimensions.substr(by + 1), scale);
  if (!width || !length) return std::nullopt;
  return MediaSize{*width, *length};
}

std::string PrinterNameFor(const std::string& queueName, const std::string& computerName) {
  std::string name = queueName.empty() ? "Printer" : queueName;
  if (!computerName.empty()) name += " @ " + computerName;
  return CutUtf8(name, kMaxDescriptionBytes);
}

std::string PrinterUri(const std::string& authority) { return "ipp://" + authority + kPrinterPath; }

std::string JobUri(const std::string& authority, int jobId) {
  return PrinterUri(authority) + "/" + std::to_string(jobId);
}

IppGroup BuildPrinterAttributes(const PrinterDescription& d) {
  IppGroup group;
  group.tag = IppTag::kPrinterGroup;
  const QueueCapabilities& queue = d.queue;
  const std::vector<std::string> media = OfferedMedia(queue);
  std::vector<IppValue> sizes;
  std::vector<IppValue> cols;
  for (const std::string& name : media) {
    const MediaSize size = *SizeOfMediaName(name);
    sizes.push_back(MediaSizeValue(size));
    cols.push_back(MediaColValue(size));
  }
  std::vector<std::string> colorModes{"auto", "monochrome"};
  if (queue.color) colorModes.push_back("color");
  std::vector<std::string> sides{"one-sided"};
  if (queue.duplex) sides.insert(sides.end(), {"two-sided-long-edge", "two-sided-short-edge"});
  std::vector<std::string> rasterTypes{"sgray_8"};
  if (queue.color) rasterTypes.push_back("srgb_8");
  std::vector<std::string> urf{"V1.4", "W8"};
  if (queue.color) urf.push_back("SRGB24");
  urf.insert(urf.end(), {"RS300", "CP1"});
  if (queue.duplex) urf.insert(urf.end(), {"DM1", "DM3"});
  std::vector<IppValue> formats;
  for (DocumentFormat format :
       {DocumentFormat::kPdf, DocumentFormat::kJpeg, DocumentFormat::kPwgRaster, DocumentFormat::kUrf}) {
    formats.push_back(IppString(IppTag::kMimeMediaType, MimeTypeOf(format)));
  }
  formats.push_back(IppString(IppTag::kMimeMediaType, kAutoDetectedFormat));
  std::vector<IppValue> operations;
  for (uint16_t op : {ippop::kPrintJob, ippop::kValidateJob, ippop::kCreateJob, ippop::kSendDocument, ippop::kCancelJob,
                      ippop::kGetJobAttributes, ippop::kGetJobs, ippop::kGetPrinterAttributes, ippop::kCancelMyJobs,
                      ippop::kCloseJob}) {
    operations.push_back(IppEnum(op));
  }
  const std::string makeAndModel = queue.makeAndModel.empty() ? "Olvaro Desktop shared printer" : queue.makeAndModel;
  const int32_t state = !d.acceptingJobs ? 5 : d.processing ? 4 : 3;  // stopped, processing, idle
  const std::string http = "http://" + d.authority;

  auto add = [&group](std::string name, std::vector<IppValue> values) {
    AddIppAttribute(group, std::move(name), std::move(values));
  };
  add("charset-configured", {IppString(IppTag::kCharset, "utf-8")});
  add("charset-supported", {IppString(IppTag::kCharset, "utf-8"), IppString(IppTag::kCharset, "us-ascii")});
  add("color-supported", {IppBoolean(queue.color)});
  add("compression-supported", {Keyword("none")});
  add("copies-default", {IppInteger(1)});
  add("copies-supported", {IppRange(1, 99)});
  add("document-format-default", {IppString(IppTag::kMimeMediaType, kAutoDetectedFormat)});
  add("document-format-supported", formats);
  add("document-password-supported", {IppInteger(0)});
  add("finishings-default", {IppEnum(3)});  // none
  add("finishings-supported", {IppEnum(3)});
  add("generated-natural-language-supported", {IppString(IppTag::kNaturalLanguage, "en")});
  add("ipp-features-supported", Keywords({"ipp-everywhere", "ipp-everywhere-server"}));
  add("ipp-versions-supported", Keywords({"1.1", "2.0"}));
  add("job-creation-attributes-supported",
      Keywords({"copies", "finishings", "ipp-attribute-fidelity", "job-name", "media", "media-col",
                "orientation-requested", "output-bin", "print-color-mode", "print-quality", "printer-resolution",
                "sides"}));
  add("job-ids-supported", {IppBoolean(true)});
  add("media-bottom-margin-supported", {IppInteger(kMargin)});
  add("media-col-database", cols);
  add("media-col-default", {cols.front()});
  add("media-col-ready", cols);
  add("media-col-supported",
      Keywords({"media-bottom-margin", "media-left-margin", "media-right-margin", "media-size", "media-top-margin"}));
  add("media-default", {Keyword(media.front())});
  add("media-left-margin-supported", {IppInteger(kMargin)});
  add("media-ready", Keywords(media));
  add("media-right-margin-supported", {IppInteger(kMargin)});
  add("media-size-supported", sizes);
  add("media-supported", Keywords(media));
  add("media-top-margin-supported", {IppInteger(kMargin)});
  add("multiple-document-jobs-supported", {IppBoolean(false)});
  add("multiple-operation-time-out", {IppInteger(d.multipleOperationTimeOut)});
  add("multiple-operation-time-out-action", {Keyword("abort-job")});
  add("natural-language-configured", {IppString(IppTag::kNaturalLanguage, "en")});
  add("operations-supported", operations);
  add("orientation-requested-default", {IppEnum(3)});
  add("orientation-requested-supported", {IppEnum(3), IppEnum(4), IppEnum(5), IppEnum(6)});
  add("output-bin-default", {Keyword("face-down")});
  add("output-bin-supported", {Keyword("face-down")});
  add("overrides-supported", Keywords({"document-numbers", "pages"}));
  add("page-ranges-supported", {IppBoolean(false)});
  add("pages-per-minute", {IppInteger(1)});
  if (queue.color) add("pages-per-minute-color", {IppInteger(1)});
  add("pdl-override-supported", {Keyword("attempted")});
  add("preferred-attributes-supported", {IppBoolean(false)});
  add("print-color-mode-default", {Keyword(queue.color ? "color" : "monochrome")});
  add("print-color-mode-supported", Keywords(colorModes));
  add("print-quality-default", {IppEnum(4)});
  add("print-quality-supported", {IppEnum(3), IppEnum(4), IppEnum(5)});
  add("printer-config-change-date-time", {IppDateTime(d.configChangeDate)});
  add("printer-config-change-time", {IppInteger(d.configChangeTime)});
  add("printer-current-time", {IppDateTime(d.now)});
  add("printer-geo-location", {IppOutOfBand(IppTag::kUnknown)});
  add("printer-get-attributes-supported", {Keyword("document-format")});
  add("printer-icons", {Uri(http + "/ipp/icon.png")});
  add("printer-info", {Text(CutUtf8(queue.info.empty() ? queue.name : queue.info, kMaxDescriptionBytes))});
  add("printer-is-accepting-jobs", {IppBoolean(d.acceptingJobs)});
  add("printer-location", {Text(CutUtf8(queue.location, kMaxDescriptionBytes))});
  add("printer-make-and-model", {Text(CutUtf8(makeAndModel, kMaxDescriptionBytes))});
  add("printer-more-info", {Uri(http + "/ipp/printer")});
  add("printer-name", {IppString(IppTag::kNameWithoutLanguage, PrinterNameFor(queue.name, d.computerName))});
  add("printer-organization", {Text("")});
  add("printer-organizational-unit", {Text("")});
  add("printer-resolution-default", {IppResolution(kResolution, kResolution)});
  add("printer-resolution-supported", {IppResolution(kResolution, kResolution)});
  add("printer-state", {IppEnum(state)});
  add("printer-state-change-date-time", {IppDateTime(d.configChangeDate)});
  add("printer-state-change-time", {IppInteger(d.configChangeTime)});
  add("printer-state-message", {Text(d.stateMessage)});
  add("printer-state-reasons", {Keyword(d.acceptingJobs ? "none" : "other")});
  add("printer-up-time", {IppInteger(d.upTime)});
  add("printer-uri-supported", {Uri(PrinterUri(d.authority))});
  add("printer-uuid", {Uri(d.uuid)});
  add("pwg-raster-document-resolution-supported", {IppResolution(kResolution, kResolution)});
  add("pwg-raster-document-type-supported", Keywords(rasterTypes));
  add("queued-job-count", {IppInteger(d.queuedJobs)});
  add("sides-default", {Keyword("one-sided")});
  add("sides-supported", Keywords(sides));
  add("uri-authentication-supported", {Keyword("none")});
  add("uri-security-supported", {Keyword("none")});
  add("urf-supported", Keywords(urf));
  add("which-jobs-supported", Keywords({"completed", "not-completed", "all"}));
  return group;
}

IppGroup SelectAttributes(const IppGroup& all, const std::vector<std::string>& requested) {
  const auto asked = [&requested](std::string_view word) {
    return std::find(requested.begin(), requested.end(), word) != requested.end();
  };
  const bool everything = requested.empty() || asked("all");
  IppGroup selected;
  selected.tag = all.tag;
  for (const IppAttribute& attribute : all.attributes) {
    const bool byGroup = attribute.name != "media-col-database" &&
                         (everything || asked(IsJobTemplate(attribute.name) ? "job-template" : "printer-description"));
    if (byGroup || asked(attribute.name)) selected.attributes.push_back(attribute);
  }
  return selected;
}
