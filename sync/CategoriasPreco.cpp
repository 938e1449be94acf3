#include "sync/Tables.h"

namespace vela {

void sincronizaCategorias(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaTabelaPreco(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
