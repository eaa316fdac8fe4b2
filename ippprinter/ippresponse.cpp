#include "ippprinter/ippresponse.h"

namespace {

bool IsNameOrText(IppTag tag) {
  return tag == IppTag::kNameWithoutLanguage || tag == IppTag::kNameWithLanguage ||
         tag == IppTag::kTextWithoutLanguage || tag == IppTag::kTextWithLanguage;
}

}  // namespace

const IppAttribute* OperationAttribute(const IppMessage& request, std::string_view name) {
  const IppGroup* group = FindIppGroup(request, IppTag::kOperationGroup);
  return group == nullptr ? nullptr : FindIppAttribute(*group, name);
}

const IppValue* SingleValue(const IppAttribute* attribute, IppTag tag) {
  if (attribute == nullptr || attribute->values.size() != 1 || attribute->values[0].tag != tag) return nullptr;
  return &attribute->values[0];
}

std::optional<std::string> NameValue(const IppAttribute* attribute) {
  if (attribute == nullptr || attribute->values.size() != 1 || !IsNameOrText(attribute->values[0].tag)) {
    return std::nullopt;
  }
  return attribute->values[0].text;
}

std::optional<std::vector<std::string>> KeywordValues(const IppAttribute* attribute) {
  if (attribute == nullptr) return std::nullopt;
  std::vector<std::string> words;
  for (const IppValue& value : attribute->values) {
    if (value.tag != IppTag::kKeyword) return std::nullopt;
    words.push_back(value.text);
  }
  return words;
}

IppMessage MakeResponse(const IppMessage& request, uint16_t status, const std::string& message) {
  IppMessage response;
  response.versionMajor = request.versionMajor == 1 ? 1 : 2;
  response.versionMinor = request.versionMajor == 1 ? 1 : 0;
  response.requestId = request.requestId;
  IppGroup& operation = response.groups.emplace_back();
  operation.tag = IppTag::kOperationGroup;
  AddIppAttribute(operation, "attributes-charset", {IppString(IppTag::kCharset, "utf-8")});
  AddIppAttribute(operation, "attributes-natural-language", {IppString(IppTag::kNaturalLanguage, "en")});
  SetStatus(response, status, message);
  return response;
}

void SetStatus(IppMessage& response, uint16_t status, const std::string& message) {
  response.code = status;
  if (message.empty()) return;
  IppGroup& operation = response.groups.front();
  std::erase_if(operation.attributes, [](const IppAttribute& a) { return a.name == "status-message"; });
  AddIppAttribute(operation, "status-message", {IppString(IppTag::kTextWithoutLanguage, message)});
}

void AddUnsupported(IppMessage& response, const IppAttribute& attribute) {
  ResponseGroup(response, IppTag::kUnsupportedGroup).attributes.push_back(attribute);
}

IppGroup& ResponseGroup(IppMessage& response, IppTag tag) {
  for (IppGroup& group : response.groups) {
    if (group.tag == tag) return group;
  }
  IppGroup& group = response.groups.emplace_back();
  group.tag = tag;
  return group;
}
