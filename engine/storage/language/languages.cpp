#include "engine/storage/language/languages.h"

#include "engine/base/engine_error.h"
#include "platform/locale.h"

namespace vevura {

namespace {

// The engine's list; the order is the order of the names offered to users.
constexpr std::array<TLanguageInfo, kLanguageCount> kLanguages{{
    {"ANSI Standard", 0},
    {"Afrikaans", 1078},
    {"Albanian", 1052},
    {"Arabic (Saudi Arabia)", 1025},
    {"Arabic (Iraq)", 2049},
    {"Arabic (Egypt)", 3073},
    {"Arabic (Libya)", 4097},
    {"Arabic (Algeria)", 5121},
    {"Arabic (Morocco)", 6145},
    {"Arabic (Tunisia)", 7169},
    {"Arabic (Oman)", 8193},
    {"Arabic (Yemen)", 9217},
    {"Arabic (Syria)", 10241},
    {"Arabic (Jordan)", 11265},
    {"Arabic (Lebanon)", 12289},
    {"Arabic (Kuwait)", 13313},
    {"Arabic (U.A.E)", 14337},
    {"Arabic (Bahrain)", 15361},
    {"Arabic (Qatar)", 16385},
    {"Basque", 1069},
    {"Belarusian", 1059},
    {"Bulgarian", 1026},
    {"Catalan", 1027},
    {"Croatian", 1050},
    {"Czech", 1029},
    {"Danish", 1030},
    {"Dutch (Standard)", 1043},
    {"Dutch (Belgian)", 2067},
    {"English (USA)", 1033},
    {"English (UK)", 2057},
    {"English (Australian)", 3081},
    {"English (Canadian)", 4105},
    {"English (New Zealand)", 5129},
    {"English (Irish)", 6153},
    {"English (South Africa)", 7177},
    {"English (Jamaica)", 8201},
    {"English (Caribbean)", 9225},
    {"English (Belize)", 10249},
    {"English (Trinidad)", 11273},
    {"Estonian", 1061},
    {"Faeroese", 1080},
    {"Farsi", 1065},
    {"Finnish", 1035},
    {"French (Standard)", 1036},
    {"French (Belgian)", 2060},
    {"French (Canadian)", 3084},
    {"French (Swiss)", 4108},
    {"French (Luxembourg)", 5132},
    {"German (Standard)", 1031},
    {"German (Swiss)", 2055},
    {"German (Austrian)", 3079},
    {"German (Luxembourg)", 4103},
    {"German (Liechtenstein)", 5127},
    {"Greek", 1032},
    {"Hebrew", 1037},
    {"Hungarian", 1038},
    {"Icelandic", 1039},
    {"Indonesian", 1057},
    {"Italian (Standard)", 1040},
    {"Italian (Swiss)", 2064},
    {"Latvian", 1062},
    {"Lithuanian", 1063},
    {"Norwegian (Bokmal)", 1044},
    {"Norwegian (Nynorsk)", 2068},
    {"Polish", 1045},
    {"Portuguese (Standard)", 2070},
    {"Portuguese (Brazilian)", 1046},
    {"Romanian", 1048},
    {"Russian", 1049},
    {"Serbian (Latin)", 2074},
    {"Serbian (Cyrillic)", 3098},
    {"Slovak", 1051},
    {"Slovenian", 1060},
    {"Spanish (Castilian)", 1034},
    {"Spanish (Mexican)", 2058},
    {"Spanish (Modern)", 3082},
    {"Spanish (Guatemala)", 4106},
    {"Spanish (Costa Rica)", 5130},
    {"Spanish (Panama)", 6154},
    {"Spanish (Dominican Republic)", 7178},
    {"Spanish (Venezuela)", 8202},
    {"Spanish (Colombia)", 9226},
    {"Spanish (Peru)", 10250},
    {"Spanish (Argentina)", 11274},
    {"Spanish (Ecuador)", 12298},
    {"Spanish (Chile)", 13322},
    {"Spanish (Uruguay)", 14346},
    {"Spanish (Paraguay)", 15370},
    {"Spanish (Bolivia)", 16394},
    {"Spanish (El Salvador)", 17418},
    {"Spanish (Honduras)", 18442},
    {"Spanish (Nicaragua)", 19466},
    {"Spanish (Puerto Rico)", 20490},
    {"Swedish (Standard)", 1053},
    {"Swedish (Finland)", 2077},
    {"Thai", 1054},
    {"Turkish", 1055},
    {"Ukranian", 1058},
    {"Vietnamese", 1066},
}};

constexpr uint16_t kGermanLanguageIds[] = {1031, 2055, 3079, 4103, 5127};

[[noreturn]] void RaiseClauseError(const std::string& detail) {
  RaiseEngineError(VEVURA_SQLPARSE, "", "", "", "", "", "", detail);
}

}  // namespace

const std::array<TLanguageInfo, kLanguageCount>& Languages() {
  return kLanguages;
}

std::vector<std::string> LanguageNames() {
  std::vector<std::string> names;
  names.reserve(kLanguages.size());
  for (const TLanguageInfo& language : kLanguages) names.emplace_back(language.Name);
  return names;
}

std::optional<uint16_t> FindLanguageId(std::string_view name) {
  const std::string wanted(name);
  for (const TLanguageInfo& language : kLanguages) {
    if (platform::SameTextSystem(language.Name, wanted)) return language.LanguageId;
  }
  return std::nullopt;
}

std::string LanguageName(uint16_t language_id) {
  for (const TLanguageInfo& language : kLanguages) {
    if (language.LanguageId == language_id) return language.Name;
  }
  return "";
}

bool IsGermanLanguage(uint16_t language_id) {
  for (uint16_t id : kGermanLanguageIds) {
    if (id == language_id) return true;
  }
  return false;
}

std::vector<std::string> SortOrderNames(uint16_t language_id) {
  std::vector<std::string> names{kDefaultOrderName};
  if (IsGermanLanguage(language_id)) names.emplace_back(kGermanPhoneBookOrderName);
  return names;
}

std::optional<uint16_t> FindSortId(uint16_t language_id, std::string_view name) {
  const std::string wanted(name);
  if (platform::SameTextSystem(kDefaultOrderName, wanted)) return kSortDefault;
  if (IsGermanLanguage(language_id) &&
      platform::SameTextSystem(kGermanPhoneBookOrderName, wanted)) {
    return kSortGermanPhoneBook;
  }
  return std::nullopt;
}

uint16_t LanguageIdFromClause(std::string_view name) {
  std::optional<uint16_t> id = FindLanguageId(name);
  if (!id) {
    RaiseClauseError("Invalid language constant '" + std::string(name) + "'" +
                     " specified after LANGUAGE keyword");
  }
  return *id;
}

uint16_t SortIdFromClause(uint16_t language_id, std::string_view name) {
  std::optional<uint16_t> id = FindSortId(language_id, name);
  if (!id) {
    RaiseClauseError("Invalid sort constant '" + std::string(name) + "'" +
                     " specified after SORT keyword");
  }
  return *id;
}

bool LanguageInstalled(uint16_t language_id, uint16_t sort_id) {
  if (language_id == kNoLanguage) return true;
  return platform::LocaleInstalled(platform::MakeLcid(language_id, sort_id));
}

void RequireLanguageInstalled(uint16_t language_id, uint16_t sort_id, const std::string& table) {
  if (!LanguageInstalled(language_id, sort_id)) {
    RaiseTableError(VEVURA_CANNOTLOADLDDRV, table);
  }
}

}  // namespace vevura
