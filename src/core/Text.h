// The texts a user reads, in the user's language.
//
// Every user-facing text is written in English in the code and passed through
// Tr(); the catalog of domain "morvex" (po/*.po, compiled to .mo files) holds
// the translations, chosen by the locale (LANG, LC_ALL, LC_MESSAGES). Without
// a catalog or a translation Tr() returns its argument. Log lines do not go
// through Tr(): they are for developers and stay the same in every locale.
#pragma once

#include <string>

namespace morvex::core {

// The gettext domain of both programs.
inline constexpr const char* kTextDomain = "morvex";

// Adopts the environment's locale and binds the catalog. Called once at the
// start of main(), before any thread exists. The catalog folder is, first
// found: $MORVEX_LOCALEDIR; `locale` next to the executable's folder (the
// build tree: build/bin/../locale); the installed share/locale.
void InitTexts(const char* argv0);

// Puts back the locale InitTexts() chose after a library set the whole
// locale from the environment (QApplication does): messages follow the
// environment, everything else is "C", with UTF-8 characters (the library
// needs them; the byte-wise case folding is the same as in "C").
void RestoreTextLocale();

// The catalog folder InitTexts() chose (for diagnostics and tests).
std::string TextCatalogDir(const char* argv0);

// `english` in the user's language. The result lives as long as the program.
// format_arg lets the compiler check printf arguments against `english`.
const char* Tr(const char* english) __attribute__((format_arg(1)));

// Marks a text kept in a constant for the catalog; Tr() translates it where
// it is shown.
constexpr const char* TrNoop(const char* english) { return english; }

// The singular or plural form for `count`, in the user's language.
const char* TrN(const char* singular, const char* plural, unsigned long count)
    __attribute__((format_arg(1), format_arg(2)));

}  // namespace morvex::core
