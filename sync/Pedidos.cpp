#include "sync/Tables.h"

namespace vela {

void sincronizaPedido(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaProdutoPedido(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
