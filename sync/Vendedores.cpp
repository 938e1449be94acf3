#include "sync/Tables.h"

namespace vela {

void sincronizaArea(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaContatosCliente(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaGPVendedor(TDMSistemaCadastro&, CopyHost&) {}

void sincronizaAgendaVendedor(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
