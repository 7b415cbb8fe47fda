// The interface language: one process-wide id of the toolkit's language
// database (0 is the system language) and the message catalogues loaded for it.
//
// Threads: main thread (start-up and the Language command); dvrTr from any thread.
#pragma once

#include <string>
#include <string_view>

int dvrCurrentLanguage();

// Looks a settings-file word up in the language database: an entry whose
// canonical name or description equals the word (case-insensitive) is taken
// at once, else the first whose canonical name cut at "_" equals it. "default"
// gives 0; no match gives -1.
int dvrFindLanguage(std::string_view word);

// The canonical name ("en_GB") of a language id, 0 answering for the system
// language; empty when the database has no entry.
std::string dvrLanguageCanonicalName(int id);
std::string dvrLanguageDescription(int id);

// The language named by the last "set locale" line in the second half of a
// settings file (the settings writer puts it last); 0 when there is none or it is unknown.
int dvrScanSettingsLanguage(const std::string& settingsFile);

// Makes id the current language and loads the catalogues "wxstd_tavel",
// "tavel" and "iso_639" from the languages directory. Missing catalogues
// leave their texts untranslated.
void dvrSwitchLanguage(int id);

// The translation of a message id in the current catalogues (UTF-8); the
// empty text stays empty.
std::string dvrTr(const char* msgid);
