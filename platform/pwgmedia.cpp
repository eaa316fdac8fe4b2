#include "platform/pwgmedia.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

struct StandardSize {
  const char* name;
  int width;   // hundredths of a millimetre, the shorter side
  int length;
};

// The sizes printer drivers offer most, by their PWG names.
constexpr StandardSize kStandardSizes[] = {
    {"iso_a3_297x420mm", 29700, 42000},        {"iso_a4_210x297mm", 21000, 29700},
    {"iso_a5_148x210mm", 14800, 21000},        {"iso_a6_105x148mm", 10500, 14800},
    {"iso_b4_250x353mm", 25000, 35300},        {"iso_b5_176x250mm", 17600, 25000},
    {"jis_b4_257x364mm", 25700, 36400},        {"jis_b5_182x257mm", 18200, 25700},
    {"iso_c5_162x229mm", 16200, 22900},        {"iso_c6_114x162mm", 11400, 16200},
    {"iso_dl_110x220mm", 11000, 22000},        {"na_letter_8.5x11in", 21590, 27940},
    {"na_legal_8.5x14in", 21590, 35560},       {"na_executive_7.25x10.5in", 18415, 26670},
    {"na_ledger_11x17in", 27940, 43180},       {"na_invoice_5.5x8.5in", 13970, 21590},
    {"na_foolscap_8.5x13in", 21590, 33020},    {"na_govt-letter_8x10in", 20320, 25400},
    {"na_number-10_4.125x9.5in", 10478, 24130}, {"na_monarch_3.875x7.5in", 9843, 19050},
    {"na_index-4x6_4x6in", 10160, 15240},      {"na_5x7_5x7in", 12700, 17780},
    {"oe_photo-l_3.5x5in", 8890, 12700},       {"jpn_hagaki_100x148mm", 10000, 14800},
    {"om_small-photo_100x150mm", 10000, 15000},
};

// How far a driver's size may be from a standard one and still be it.
constexpr int kTolerance = 50;

// Hundredths of a millimetre as millimetres, without trailing zeros: "210", "182.7", "104.78".
std::string Millimetres(int hundredths) {
  std::string text = std::to_string(hundredths / 100);
  const int fraction = hundredths % 100;
  if (fraction != 0) {
    text += '.' + std::to_string(fraction / 10);
    if (fraction % 10 != 0) text += std::to_string(fraction % 10);
  }
  return text;
}

}  // namespace

std::string PwgMediaNameForSize(int width, int length) {
  if (width <= 0 || length <= 0) return {};
  if (width > length) std::swap(width, length);
  for (const StandardSize& size : kStandardSizes) {
    if (std::abs(size.width - width) <= kTolerance && std::abs(size.length - length) <= kTolerance) return size.name;
  }
  const std::string dimensions = Millimetres(width) + "x" + Millimetres(length) + "mm";
  return "custom_" + dimensions + "_" + dimensions;
}

std::vector<std::string> DefaultMediaFirst(const std::vector<std::string>& names, const std::string& defaultName) {
  std::vector<std::string> ordered;
  if (!defaultName.empty() && std::find(names.begin(), names.end(), defaultName) != names.end()) ordered.push_back(defaultName);
  for (const std::string& name : names) {
    if (!name.empty() && std::find(ordered.begin(), ordered.end(), name) == ordered.end()) ordered.push_back(name);
  }
  return ordered;
}
