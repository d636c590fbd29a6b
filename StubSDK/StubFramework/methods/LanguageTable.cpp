#include "methods/LanguageTable.h"

#include <cwchar>

#include "core/Registry.h"
#include "core/StubParameters.h"
#include "core/TextFormat.h"

namespace stubframework::methods {

const LanguageEntry kLanguages[kLanguageCount] = {
    {L"other", L"Other"},  // 0
    {L"en", L"English"},  // 1
    {L"fr", L"French"},  // 2
    {L"de", L"German"},  // 3
    {L"it", L"Italian"},  // 4
    {L"jp", L"Japanese"},  // 5
    {L"es", L"Spanish"},  // 6
    {L"pt", L"Portuguese"},  // 7
    {L"nl", L"Dutch"},  // 8
    {L"ko", L"Korean"},  // 9
    {L"ru", L"Russian"},  // 10
    {L"cs", L"Czech"},  // 11
    {L"zh", L"Simplified Chinese"},  // 12
    {L"tw", L"Traditional Chinese"},  // 13
    {L"af", L"Afrikaans"},  // 14
    {L"sq", L"Albanian"},  // 15
    {L"am", L"Amharic"},  // 16
    {L"ar", L"Arabic"},  // 17
    {L"hy", L"Armenian"},  // 18
    {L"as", L"Assamese"},  // 19
    {L"ba", L"Bashkir"},  // 20
    {L"eu", L"Basque"},  // 21
    {L"be", L"Belarusian"},  // 22
    {L"bn", L"Bengali"},  // 23
    {L"br", L"Breton"},  // 24
    {L"bs", L"Bosnian"},  // 25
    {L"bg", L"Bulgarian"},  // 26
    {L"ca", L"Catalan"},  // 27
    {L"co", L"Corsican"},  // 28
    {L"hr", L"Croatian"},  // 29
    {L"da", L"Danish"},  // 30
    {L"dv", L"Divehi"},  // 31
    {L"et", L"Estonian"},  // 32
    {L"fi", L"Finnish"},  // 33
    {L"fy", L"Frisian"},  // 34
    {L"gl", L"Galician"},  // 35
    {L"ka", L"Georgian"},  // 36
    {L"el", L"Greek"},  // 37
    {L"kl", L"Greenlandic"},  // 38
    {L"gu", L"Gujarati"},  // 39
    {L"ha", L"Hausa"},  // 40
    {L"he", L"Hebrew"},  // 41
    {L"hi", L"Hindi"},  // 42
    {L"hu", L"Hungarian"},  // 43
    {L"is", L"Icelandic"},  // 44
    {L"ig", L"Igbo"},  // 45
    {L"id", L"Indonesian"},  // 46
    {L"iu", L"Inuktitut"},  // 47
    {L"ga", L"Irish"},  // 48
    {L"kn", L"Kannada"},  // 49
    {L"ks", L"Kashmiri"},  // 50
    {L"kk", L"Kazakh"},  // 51
    {L"km", L"Khmer"},  // 52
    {L"rw", L"Kinyarwanda"},  // 53
    {L"ky", L"Kyrgyz"},  // 54
    {L"lo", L"Lao"},  // 55
    {L"lv", L"Latvian"},  // 56
    {L"lt", L"Lithuanian"},  // 57
    {L"lb", L"Luxembourgish"},  // 58
    {L"mk", L"Macedonian"},  // 59
    {L"ms", L"Malay"},  // 60
    {L"ml", L"Malayalam"},  // 61
    {L"mt", L"Maltese"},  // 62
    {L"mi", L"Maori"},  // 63
    {L"mr", L"Marathi"},  // 64
    {L"mn", L"Mongolian"},  // 65
    {L"ne", L"Nepali"},  // 66
    {L"no", L"Norwegian"},  // 67
    {L"oc", L"Occitan"},  // 68
    {L"or", L"Oriya"},  // 69
    {L"ps", L"Pashto"},  // 70
    {L"fa", L"Persian"},  // 71
    {L"pl", L"Polish"},  // 72
    {L"pa", L"Punjabi"},  // 73
    {L"qu", L"Quechua"},  // 74
    {L"ro", L"Romanian"},  // 75
    {L"rm", L"Romansh"},  // 76
    {L"se", L"Sami"},  // 77
    {L"sa", L"Sanskrit"},  // 78
    {L"gd", L"Scottish Gaelic"},  // 79
    {L"sr", L"Serbian"},  // 80
    {L"sd", L"Sindhi"},  // 81
    {L"si", L"Sinhalese"},  // 82
    {L"sk", L"Slovak"},  // 83
    {L"sl", L"Slovenian"},  // 84
    {L"st", L"Sotho"},  // 85
    {L"sw", L"Swahili"},  // 86
    {L"sv", L"Swedish"},  // 87
    {L"tg", L"Tajik"},  // 88
    {L"ta", L"Tamil"},  // 89
    {L"tt", L"Tatar"},  // 90
    {L"te", L"Telugu"},  // 91
    {L"th", L"Thai"},  // 92
    {L"bo", L"Tibetan"},  // 93
    {L"tn", L"Tswana"},  // 94
    {L"tr", L"Turkish"},  // 95
    {L"tk", L"Turkmen"},  // 96
    {L"ug", L"Uighur"},  // 97
    {L"uk", L"Ukrainian"},  // 98
    {L"ur", L"Urdu"},  // 99
    {L"uz", L"Uzbek"},  // 100
    {L"vi", L"Vietnamese"},  // 101
    {L"cy", L"Welsh"},  // 102
    {L"wo", L"Wolof"},  // 103
    {L"xh", L"Xhosa"},  // 104
    {L"yi", L"Yiddish"},  // 105
    {L"yo", L"Yoruba"},  // 106
    {L"zu", L"Zulu"},  // 107
};

namespace {

struct IdNumber {
  WORD id;
  int number;
};

// Whole identifiers decided before the primary-language rule.
const IdNumber kWholeIds[] = {
    {1033, 1}, {1036, 2}, {1031, 3}, {1040, 4}, {1041, 5}, {2058, 6},  {3082, 6},
    {1046, 7}, {2070, 7}, {1043, 8}, {1042, 9}, {1049, 10}, {1029, 11}, {2052, 12},
    {4100, 12}, {1028, 13}, {3076, 13}, {5124, 13},
};

// Primary language (id & 0x3FF) to language number.
const IdNumber kPrimaryLanguages[] = {
    {1, 17},  // ar
    {2, 26},  // bg
    {3, 27},  // ca
    {4, 12},  // zh
    {6, 30},  // da
    {7, 3},  // de
    {8, 37},  // el
    {9, 1},  // en
    {10, 6},  // es
    {11, 33},  // fi
    {12, 2},  // fr
    {13, 41},  // he
    {14, 43},  // hu
    {15, 44},  // is
    {16, 4},  // it
    {17, 5},  // jp
    {19, 8},  // nl
    {20, 67},  // no
    {21, 72},  // pl
    {22, 7},  // pt
    {23, 76},  // rm
    {24, 75},  // ro
    {25, 10},  // ru
    {27, 83},  // sk
    {28, 15},  // sq
    {29, 87},  // sv
    {30, 92},  // th
    {31, 95},  // tr
    {32, 99},  // ur
    {33, 46},  // id
    {34, 98},  // uk
    {35, 22},  // be
    {36, 84},  // sl
    {37, 32},  // et
    {38, 56},  // lv
    {39, 57},  // lt
    {40, 88},  // tg
    {41, 71},  // fa
    {42, 101},  // vi
    {43, 18},  // hy
    {45, 21},  // eu
    {47, 59},  // mk
    {50, 94},  // tn
    {52, 104},  // xh
    {53, 107},  // zu
    {54, 14},  // af
    {55, 36},  // ka
    {57, 42},  // hi
    {58, 62},  // mt
    {59, 77},  // se
    {60, 48},  // ga
    {62, 60},  // ms
    {63, 51},  // kk
    {64, 54},  // ky
    {65, 86},  // sw
    {66, 96},  // tk
    {67, 100},  // uz
    {68, 90},  // tt
    {69, 23},  // bn
    {70, 73},  // pa
    {71, 39},  // gu
    {72, 69},  // or
    {73, 89},  // ta
    {74, 91},  // te
    {75, 49},  // kn
    {76, 61},  // ml
    {77, 19},  // as
    {78, 64},  // mr
    {79, 78},  // sa
    {80, 65},  // mn
    {81, 93},  // bo
    {82, 102},  // cy
    {83, 52},  // km
    {84, 55},  // lo
    {86, 35},  // gl
    {89, 81},  // sd
    {91, 82},  // si
    {93, 47},  // iu
    {94, 16},  // am
    {96, 50},  // ks
    {97, 66},  // ne
    {98, 34},  // fy
    {99, 70},  // ps
    {101, 31},  // dv
    {104, 40},  // ha
    {106, 106},  // yo
    {107, 74},  // qu
    {108, 85},  // st
    {109, 20},  // ba
    {110, 58},  // lb
    {111, 38},  // kl
    {112, 45},  // ig
    {120, 105},  // yi
    {126, 24},  // br
    {128, 97},  // ug
    {129, 63},  // mi
    {130, 68},  // oc
    {131, 28},  // co
    {135, 53},  // rw
    {136, 103},  // wo
    {145, 79},  // gd
};

// Primary language 26 covers Croatian, Bosnian and Serbian; the whole identifier decides.
const IdNumber kPrimary26Ids[] = {
    {1050, 29}, {4122, 29}, {5146, 25}, {8218, 25}, {2074, 80},  {3098, 80},
    {6170, 80}, {7194, 80}, {9242, 80}, {10266, 80}, {11290, 80}, {12314, 80},
};

}  // namespace

int LanguageNumberFromLangId(WORD languageId) {
  for (const IdNumber& entry : kWholeIds)
    if (entry.id == languageId) return entry.number;
  WORD primary = languageId & 0x3FF;
  if (primary == 26) {
    for (const IdNumber& entry : kPrimary26Ids)
      if (entry.id == languageId) return entry.number;
    return 0;
  }
  for (const IdNumber& entry : kPrimaryLanguages)
    if (entry.id == primary) return entry.number;
  return 0;
}

int LanguageNumberFromCode(const std::wstring& code) {
  for (int n = 1; n < kLanguageCount; ++n)
    if (code == kLanguages[n].code) return n;
  return 0;
}

bool SetInstallLanguage(core::StubParameters& parameters, int languageNumber) {
  if (languageNumber < 0 || languageNumber >= kLanguageCount) return false;
  const LanguageEntry& entry = kLanguages[languageNumber];
  parameters.installLanguage = entry.name;
  parameters.properties.Set(L"lang", entry.code);
  utils::WriteRegistryString(parameters.registryKey, L"install_language", entry.name, false);
  return true;
}

void SetInstallStatus(core::StubParameters& parameters, int status) {
  parameters.status = status;
  utils::WriteRegistryString(parameters.registryKey, L"status", utils::FormatWide(L"%d", status),
                             false);
}

}  // namespace stubframework::methods
