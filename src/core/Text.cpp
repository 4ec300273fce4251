#include "core/Text.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace morvex::core {
namespace {

// Where the executable lies; argv[0] when /proc does not say.
std::filesystem::path ExecutableDir(const char* argv0) {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error && argv0 != nullptr) self = std::filesystem::absolute(argv0, error);
  return self.parent_path();
}

}  // namespace

std::string TextCatalogDir(const char* argv0) {
  if (const char* fromEnvironment = std::getenv("MORVEX_LOCALEDIR");
      fromEnvironment != nullptr && *fromEnvironment != '\0') {
    return fromEnvironment;
  }
  // A program run from the build tree uses the catalogs built with it, not
  // an older installed copy.
  std::error_code error;
  const std::filesystem::path besideBuild = ExecutableDir(argv0).parent_path() / "locale";
  if (std::filesystem::is_directory(besideBuild, error)) return besideBuild.string();
  return MORVEX_INSTALLED_LOCALEDIR;
}

void InitTexts(const char* argv0) {
  // Only the language of the messages follows the environment. Everything
  // else stays "C": numbers are printed and parsed for scripts too, and the
  // byte-wise tolower of the ignore rules must not change with the locale
  // (a Turkish one maps 'I' differently). The catalog's UTF-8 text needs no
  // LC_CTYPE, its codeset is bound below.
  std::setlocale(LC_MESSAGES, "");
  const std::string dir = TextCatalogDir(argv0);
  bindtextdomain(kTextDomain, dir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  textdomain(kTextDomain);
}

void RestoreTextLocale() {
  std::setlocale(LC_ALL, "C");
  std::setlocale(LC_CTYPE, "C.UTF-8");
  std::setlocale(LC_MESSAGES, "");
}

const char* Tr(const char* english) { return dgettext(kTextDomain, english); }

const char* TrN(const char* singular, const char* plural, unsigned long count) {
  return dngettext(kTextDomain, singular, plural, count);
}

}  // namespace morvex::core
