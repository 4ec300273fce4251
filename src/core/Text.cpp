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
  std::setlocale(LC_ALL, "");
  // Numbers stay in the C notation: the programs print and parse them for
  // scripts too, whatever the language of the words around them.
  std::setlocale(LC_NUMERIC, "C");
  const std::string dir = TextCatalogDir(argv0);
  bindtextdomain(kTextDomain, dir.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
  textdomain(kTextDomain);
}

const char* Tr(const char* english) { return dgettext(kTextDomain, english); }

const char* TrN(const char* singular, const char* plural, unsigned long count) {
  return dngettext(kTextDomain, singular, plural, count);
}

}  // namespace morvex::core
