#include "multilang/wx_ml.h"

#include "multilang/multi_language.h"

#include <cstdlib>
#include <cstring>

void wx_ml_setPath(const std::string& dir) {
    orvex::ml_setPath(dir);
}

void wx_ml_setPrefix(const std::string& prefix) {
    orvex::ml_setPrefix(prefix);
}

bool wx_ml_setCodePage(unsigned long codePage) {
    return orvex::ml_setCodePage(codePage);
}

std::string __(unsigned long id, const char* defaultText) {
    return orvex::__(id, defaultText);
}

std::string ___(const std::string& key, const char* defaultText) {
    return orvex::___(key, defaultText);
}

unsigned long wx_getSysLanguage() {
    const char* lang = std::getenv("LANG");
    if (lang == nullptr)
        return kLangEnglish;
    // Only a locale name with its encoding part counts: "zh_CN" alone is not recognised.
    if (std::strncmp(lang, "zh_CN.", 6) == 0 || std::strncmp(lang, "zh_cn.", 6) == 0)
        return kLangSimplifiedChinese;
    if (std::strncmp(lang, "zh_TW.", 6) == 0 || std::strncmp(lang, "zh_tw.", 6) == 0)
        return kLangTraditionalChinese;
    return kLangEnglish;
}
