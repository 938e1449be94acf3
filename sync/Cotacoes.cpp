#include "sync/Tables.h"

namespace vela {

void sincronizaCotaNegociacao(TDMSistemaCadastro&, CopyHost&) {}

} // namespace vela
