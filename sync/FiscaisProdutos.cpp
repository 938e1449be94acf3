#include "sync/Tables.h"

namespace vela {

void sincronizaClasFiscal(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaProdutos(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
