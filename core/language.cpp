#include "core/language.h"

#include <wx/intl.h>
#include <wx/translation.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/paths.h"
#include "core/text.h"

namespace {

std::atomic<int> g_language{0};

const wxLanguageInfo* infoFor(int id) {
  if (id < 0 || id >= wxLANGUAGE_USER_DEFINED) return nullptr;
  if (id == wxLANGUAGE_UNKNOWN) return nullptr;
  return wxLocale::GetLanguageInfo(id);
}

}  // namespace

int dvrCurrentLanguage() { return g_language.load(); }

int dvrFindLanguage(std::string_view word) {
  if (dvrEqualNoCase(word, "default")) return 0;
  if (word.empty()) return -1;
  int prefixMatch = -1;
  for (int id = wxLANGUAGE_UNKNOWN + 1; id < wxLANGUAGE_USER_DEFINED; ++id) {
    const wxLanguageInfo* info = wxLocale::GetLanguageInfo(id);
    if (!info) continue;
    std::string canonical = info->CanonicalName.utf8_string();
    if (dvrEqualNoCase(canonical, word) || dvrEqualNoCase(info->Description.utf8_string(), word))
      return id;
    if (prefixMatch < 0) {
      std::string code = canonical.substr(0, canonical.find('_'));
      if (dvrEqualNoCase(code, word)) prefixMatch = id;
    }
  }
  return prefixMatch;
}

std::string dvrLanguageCanonicalName(int id) {
  const wxLanguageInfo* info = infoFor(id);
  return info ? info->CanonicalName.utf8_string() : std::string();
}

std::string dvrLanguageDescription(int id) {
  const wxLanguageInfo* info = infoFor(id);
  return info ? info->Description.utf8_string() : std::string();
}

int dvrScanSettingsLanguage(const std::string& settingsFile) {
  std::int64_t size = 0;
  if (!dvrFileSize(settingsFile, &size)) return 0;
  std::FILE* f = std::fopen(settingsFile.c_str(), "r");
  if (!f) return 0;
  std::fseek(f, static_cast<long>(size / 2), SEEK_SET);
  std::string word;
  char line[255];  // lines of at most 254 characters
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "set locale", 10) != 0) continue;
    // The third blank-separated word.
    char* save = nullptr;
    char* w = strtok_r(line, " \r\n", &save);
    for (int i = 1; w && i < 3; ++i) w = strtok_r(nullptr, " \r\n", &save);
    if (w) word = w;
  }
  std::fclose(f);
  if (word.empty()) return 0;
  int id = dvrFindLanguage(word);
  return id < 0 ? 0 : id;
}

void dvrSwitchLanguage(int id) {
  g_language = id;
  auto* translations = new wxTranslations;
  std::string canonical = dvrLanguageCanonicalName(id);
  if (id == 0)
    translations->SetLanguage(wxLANGUAGE_DEFAULT);
  else if (!canonical.empty())
    translations->SetLanguage(wxString::FromUTF8(canonical));
  wxFileTranslationsLoader::AddCatalogLookupPathPrefix(wxString::FromUTF8(dvrGetPath(dvrPATH_LANGUAGES)));
  wxTranslations::Set(translations);  // deletes the previous one
  translations->AddCatalog("wxstd_tavel");
  translations->AddCatalog("tavel");
  translations->AddCatalog("iso_639");
}

std::string dvrTr(const char* msgid) {
  // The translation of the empty text is the catalogue's header, never wanted.
  if (!msgid || !msgid[0]) return std::string();
  if (!wxTranslations::Get()) return msgid;
  return wxGetTranslation(wxString::FromUTF8(msgid)).utf8_string();
}
