#pragma once

#include <array>
#include <string>
#include <string_view>

#include "common/date_time.h"
#include "common/variant.h"

namespace vorncom::package {

// Names of the two control files inside a form package, stored bare (no folders).
inline constexpr const char* kHeaderFileName = "header.cfg";
inline constexpr const char* kProtocolFileName = "protocolo.rec";

// Sections and keys of header.cfg and protocolo.rec, exactly as stored (UTF-8 here, Windows-1252
// in the files).
namespace ini {
inline constexpr const char* kDocumento = "Documento";
inline constexpr const char* kUsuario = "Usuário";
inline constexpr const char* kControles = "Controles";

inline constexpr const char* kCodigoSistema = "Código Sistema";
inline constexpr const char* kVersaoSistema = "Versão Sistema";
inline constexpr const char* kMeioEnvio = "Meio Envio";
inline constexpr const char* kDataAtualizacao = "Data Atualização";
inline constexpr const char* kEnderecoHost = "Endereço Host";
inline constexpr const char* kNomeHost = "Nome Host";
inline constexpr const char* kTipoSolicitacao = "Tipo Solicitação";
inline constexpr const char* kNomeSolicitacao = "Nome Solicitação";
inline constexpr const char* kVersaoSolicitacao = "Versão Solicitação";
inline constexpr const char* kOrigemSolicitacao = "Origem Solicitação";
inline constexpr const char* kNomeArquivo = "Nome Arquivo";
inline constexpr const char* kSistemaOperacional = "Sistema Operacional";
inline constexpr const char* kConfiguracoesComputador = "Configurações Computador";
inline constexpr const char* kTipoSolicitante = "Tipo Solicitante";
inline constexpr const char* kIdentificacaoSolicitante = "Identificação Solicitante";
inline constexpr const char* kIdentificacaoVorn = "Identificação Vorn";
inline constexpr const char* kNomeSolicitante = "Nome Solicitante";
inline constexpr const char* kCodigo = "Código";

inline constexpr const char* kTamanhoArquivo = "Tamanho Arquivo";
inline constexpr const char* kNumeroProtocolo = "Número Protocolo";
inline constexpr const char* kInicioTransmissao = "Início Transmissão";
inline constexpr const char* kFinalTransmissao = "Final Transmissão";
inline constexpr const char* kMensagemSolicitacao = "Mensagem Solicitação";
}  // namespace ini

struct IniKey {
  const char* section;
  const char* key;
};

// The keys header.cfg must hold for a package to be sent, in the order they are checked.
inline constexpr std::array<IniKey, 16> kRequiredHeaderKeys = {{
    {ini::kDocumento, ini::kCodigoSistema},
    {ini::kDocumento, ini::kVersaoSistema},
    {ini::kDocumento, ini::kMeioEnvio},
    {ini::kDocumento, ini::kEnderecoHost},
    {ini::kDocumento, ini::kNomeHost},
    {ini::kDocumento, ini::kTipoSolicitacao},
    {ini::kDocumento, ini::kNomeSolicitacao},
    {ini::kDocumento, ini::kVersaoSolicitacao},
    {ini::kDocumento, ini::kNomeArquivo},
    {ini::kDocumento, ini::kSistemaOperacional},
    {ini::kDocumento, ini::kConfiguracoesComputador},
    {ini::kUsuario, ini::kTipoSolicitante},
    {ini::kUsuario, ini::kIdentificacaoSolicitante},
    {ini::kUsuario, ini::kIdentificacaoVorn},
    {ini::kUsuario, ini::kNomeSolicitante},
    {ini::kControles, ini::kCodigo},
}};

// Elements of ProtocolData (bounds 1..14).
namespace pd {
inline constexpr int32_t kFileName = 1;
inline constexpr int32_t kHostAddress = 2;
inline constexpr int32_t kProtocolNumber = 3;
inline constexpr int32_t kTransmissionEnd = 4;
inline constexpr int32_t kRequestName = 5;
inline constexpr int32_t kRequestVersion = 6;
inline constexpr int32_t kRequesterId = 7;
inline constexpr int32_t kRequesterName = 8;
inline constexpr int32_t kFileSize = 9;
inline constexpr int32_t kUpdateDate = 10;
inline constexpr int32_t kTransmissionStart = 11;
inline constexpr int32_t kRequestType = 12;
inline constexpr int32_t kAgencyId = 13;
inline constexpr int32_t kRequestMessage = 14;
inline constexpr int32_t kCount = 14;
}  // namespace pd

// How a protocolo.rec value is written from its ProtocolData element.
enum class RecordValueForm { kText, kDateTime, kMessage };

struct ProtocolRecordField {
  IniKey key;
  int32_t element;
  RecordValueForm form;
};

// The fourteen values of protocolo.rec in the order they are written.
inline constexpr std::array<ProtocolRecordField, 14> kProtocolRecordFields = {{
    {{ini::kDocumento, ini::kNomeArquivo}, pd::kFileName, RecordValueForm::kText},
    {{ini::kDocumento, ini::kTamanhoArquivo}, pd::kFileSize, RecordValueForm::kText},
    {{ini::kDocumento, ini::kDataAtualizacao}, pd::kUpdateDate, RecordValueForm::kText},
    {{ini::kDocumento, ini::kEnderecoHost}, pd::kHostAddress, RecordValueForm::kText},
    {{ini::kDocumento, ini::kNumeroProtocolo}, pd::kProtocolNumber, RecordValueForm::kText},
    {{ini::kDocumento, ini::kInicioTransmissao},
     pd::kTransmissionStart,
     RecordValueForm::kDateTime},
    {{ini::kDocumento, ini::kFinalTransmissao}, pd::kTransmissionEnd, RecordValueForm::kDateTime},
    {{ini::kDocumento, ini::kTipoSolicitacao}, pd::kRequestType, RecordValueForm::kText},
    {{ini::kDocumento, ini::kNomeSolicitacao}, pd::kRequestName, RecordValueForm::kText},
    {{ini::kDocumento, ini::kVersaoSolicitacao}, pd::kRequestVersion, RecordValueForm::kText},
    {{ini::kDocumento, ini::kMensagemSolicitacao}, pd::kRequestMessage, RecordValueForm::kMessage},
    {{ini::kUsuario, ini::kIdentificacaoSolicitante}, pd::kRequesterId, RecordValueForm::kText},
    {{ini::kUsuario, ini::kIdentificacaoVorn}, pd::kAgencyId, RecordValueForm::kText},
    {{ini::kUsuario, ini::kNomeSolicitante}, pd::kRequesterName, RecordValueForm::kText},
}};

// The values read back from protocolo.rec into ProtocolData, in the order they are read; the
// other elements keep what they held.
inline constexpr std::array<ProtocolRecordField, 9> kProtocolRecordReadBack = {{
    {{ini::kDocumento, ini::kNomeArquivo}, pd::kFileName, RecordValueForm::kText},
    {{ini::kDocumento, ini::kEnderecoHost}, pd::kHostAddress, RecordValueForm::kText},
    {{ini::kDocumento, ini::kFinalTransmissao}, pd::kTransmissionEnd, RecordValueForm::kText},
    {{ini::kDocumento, ini::kNumeroProtocolo}, pd::kProtocolNumber, RecordValueForm::kText},
    {{ini::kDocumento, ini::kNomeSolicitacao}, pd::kRequestName, RecordValueForm::kText},
    {{ini::kDocumento, ini::kVersaoSolicitacao}, pd::kRequestVersion, RecordValueForm::kText},
    {{ini::kUsuario, ini::kNomeSolicitante}, pd::kRequesterName, RecordValueForm::kText},
    {{ini::kUsuario, ini::kIdentificacaoSolicitante}, pd::kRequesterId, RecordValueForm::kText},
    {{ini::kDocumento, ini::kMensagemSolicitacao}, pd::kRequestMessage, RecordValueForm::kMessage},
}};

// A fresh ProtocolData: 14 empty elements with bounds 1..14.
Variant NewProtocolData();

// INI values are single lines: every CR LF pair becomes the token "<CRLF>" and back. A lone CR or
// LF is left alone (and then refused by the INI writer).
std::string EncodeLineBreaks(std::string_view text);
std::string DecodeLineBreaks(std::string_view text);

// The validation folder of one send: work folder + package file name up to its first '.' +
// the time "hhnnss" + '/'. "FORM2001.ZIP" at 14:05:09 gives work + "FORM2001140509/"; a name
// without '.' contributes nothing, and a stem longer than 249 bytes is cut there.
// `work_folder` ends with '/'.
std::string ValidationFolderName(const std::string& work_folder, const std::string& package_name,
                                 OleDate now);

// A one-element name list (bounds 0..0), the form in which a single control file crosses the
// package routines.
Variant SingleNameList(const std::string& name);

// The file name part of a path ("a/b/FORM.ZIP" gives "FORM.ZIP").
std::string FileNameOf(const std::string& path);

}  // namespace vorncom::package
