#pragma once

#include "db/ModuloDadosCadastro.h"
#include "sync/CopyHost.h"
#include "sync/TableCopy.h"

namespace vela {

// The eighteen table copies, in the order the synchronization run calls them. Each group of
// tables lives in a file of its own with its settings.
void sincronizaEstados(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaUsuarios(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaClasFiscal(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaProdutos(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaCategorias(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaEmpresas(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaCondPagamentos(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaTabelaPreco(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaTransportadora(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaConfig(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaArea(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaContatosCliente(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaGPVendedor(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaPedido(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaProdutoPedido(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaCotaNegociacao(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaAgendaVendedor(TDMSistemaCadastro& dm, CopyHost& host);
void sincronizaCVF(TDMSistemaCadastro& dm, CopyHost& host);

namespace tables {
extern const TableCopy estados;
} // namespace tables

} // namespace vela
