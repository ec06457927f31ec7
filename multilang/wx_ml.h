// The language functions the windows call: texts by id with a built-in default, and the choice of the
// language file. The texts are UTF-8; a window passes them on through tr(__(id, "default").c_str()).
//
// These live in the global namespace: do not bring namespace orvex into the same scope, or __ and ___
// become ambiguous.
#pragma once

#include <string>

// Where the language files are, and their name prefix ("kvcsp").
void wx_ml_setPath(const std::string& dir);
void wx_ml_setPrefix(const std::string& prefix);
// Loads <dir>/<prefix>_<codePage>.lng; false (and default texts from then on) when that file is missing or
// incomplete.
bool wx_ml_setCodePage(unsigned long codePage);

// The text for the id, or defaultText (null counts as "").
std::string __(unsigned long id, const char* defaultText);
// The text for a textual key, or defaultText.
std::string ___(const std::string& key, const char* defaultText);

// The language code chosen by LANG: 2052 for zh_CN.*, 1028 for zh_TW.* (either case of the region), else
// 1033 (an unset LANG included).
unsigned long wx_getSysLanguage();

// The code pages of the three language files.
constexpr unsigned long kLangSimplifiedChinese = 2052;
constexpr unsigned long kLangTraditionalChinese = 1028;
constexpr unsigned long kLangEnglish = 1033;
