#include "sync/Tables.h"

namespace vela {

void sincronizaUsuarios(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaEmpresas(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
