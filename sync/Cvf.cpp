#include "sync/Tables.h"

namespace vela {

void sincronizaCVF(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
