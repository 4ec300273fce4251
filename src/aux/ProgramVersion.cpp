#include "aux/ProgramVersion.h"

namespace morvex::aux {

const char* ProgramVersion() { return MORVEX_FILE_VERSION; }

}  // namespace morvex::aux
