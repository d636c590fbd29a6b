#include "analytics/ServiceDocuments.h"

#include <map>

#include "analytics/MachineIdentity.h"
#include "core/Registry.h"
#include "core/StubParameters.h"
#include "methods/LanguageTable.h"

namespace stubframework::analytics {
namespace {

const struct {
  int status;
  const wchar_t* text;
} kStatusTexts[] = {
    {0, L"started"},          {1, L"completed"},         {2, L"error occurred"},
    {3, L"canceled"},         {4, L"environment not supported"},
    {5, L"downloaded"},       {6, L"stub failed"},       {71, L"modify completed"},
    {72, L"modify error occurred"},  {73, L"modify canceled"},  {81, L"repair completed"},
    {82, L"repair error occurred"},  {83, L"repair canceled"},  {91, L"remove completed"},
    {92, L"remove error occurred"},  {93, L"remove canceled"},
};

std::wstring Element(const wchar_t* name, const std::wstring& content) {
  return std::wstring(L"<") + name + L">" + content + L"</" + name + L">";
}

std::wstring TextElement(const wchar_t* name, const std::wstring& value) { return Element(name, XmlText(value)); }

// An empty member is first filled from the product key's value of that name.
const std::wstring& WithRegistryFallback(core::StubParameters& parameters, std::wstring& member,
                                         const wchar_t* valueName) {
  if (member.empty()) utils::ReadRegistryValue(parameters.registryKey, valueName, member);
  return member;
}

}  // namespace

std::wstring StatusText(int status) {
  static std::map<int, std::wstring> texts;
  if (texts.empty())
    for (const auto& entry : kStatusTexts) texts[entry.status] = entry.text;
  return texts[status];
}

std::wstring XmlText(const std::wstring& value) {
  std::wstring text;
  text.reserve(value.size());
  for (wchar_t c : value) {
    if (c == L'&') text += L"&amp;";
    else if (c == L'<') text += L"&lt;";
    else if (c == L'>') text += L"&gt;";
    else text += c;
  }
  return text;
}

std::wstring BuildAnalyticsDocument(core::StubParameters& parameters, bool initial) {
  int status = 0;
  if (!initial) {
    status = parameters.Status();
    if (status == 0) status = 3;
  }
  std::wstring mainApp = TextElement(L"productId", parameters.ProductId()) +
                         TextElement(L"productVersion", parameters.ProductVersion()) +
                         TextElement(L"channelId", parameters.Channel()) +
                         TextElement(L"installLanguage",
                                     WithRegistryFallback(parameters, parameters.installLanguage, L"install_language")) +
                         TextElement(L"status", StatusText(status));
  if (!parameters.externalProperties.empty()) {
    std::wstring properties;
    for (const auto& entry : parameters.externalProperties)
      properties += Element(L"property", TextElement(L"name", entry.first) + TextElement(L"value", entry.second));
    mainApp += Element(L"externalProperties", properties);
  }
  int language = parameters.uiLanguage;
  if (language < 0 || language >= methods::kLanguageCount) language = 0;
  std::wstring environment = TextElement(L"OS", parameters.osName) +
                             TextElement(L"language", methods::kLanguages[language].name) +
                             TextElement(L"architecture", parameters.architecture) +
                             TextElement(L"defaultBrowser", parameters.defaultBrowser);
  return Element(L"HVDLMAnalytics",
                 TextElement(L"requestToken", parameters.requestToken) + TextElement(L"country", parameters.country) +
                     Element(L"mainApp", mainApp) + Element(L"error", L"") + Element(L"userEnvironment", environment) +
                     TextElement(L"HVDLMVersion",
                                 WithRegistryFallback(parameters, parameters.clientVersion, L"client_version")) +
                     TextElement(L"machineId", ReportedMachineId(parameters)));
}

std::wstring BuildUserActivityDocument(core::StubParameters& parameters, const std::wstring& activity) {
  return Element(L"UserActivity", TextElement(L"token", parameters.requestToken) +
                                      TextElement(L"productId", parameters.ProductId()) +
                                      TextElement(L"productVersion", parameters.ProductVersion()) +
                                      TextElement(L"activity", activity));
}

std::wstring BuildRegionRestrictionsDocument(core::StubParameters& parameters) {
  return Element(L"RegionRestrictions", TextElement(L"token", parameters.requestToken) +
                                            TextElement(L"productId", parameters.ProductId()) +
                                            TextElement(L"productVersion", parameters.ProductVersion()) +
                                            TextElement(L"channel", parameters.Channel()) +
                                            TextElement(L"os", parameters.osName) +
                                            TextElement(L"machineId", ReportedMachineId(parameters)));
}

std::wstring ElementContent(const std::wstring& text, const std::wstring& name) {
  std::wstring open = L"<" + name + L">";
  size_t start = text.find(open);
  if (start == std::wstring::npos) return std::wstring();
  start += open.size();
  size_t end = text.find(L"</" + name + L">", start);
  if (end == std::wstring::npos) return std::wstring();
  return text.substr(start, end - start);
}

}  // namespace stubframework::analytics
