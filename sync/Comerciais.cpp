#include "sync/Tables.h"

namespace vela {

void sincronizaCondPagamentos(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaTransportadora(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaConfig(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
