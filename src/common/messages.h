#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The library's user-visible texts, in one table. Texts with "%s" are filled by Format; the
// institution name carries its own article, so "d%s" forms the Portuguese contraction.
namespace vorncom::msg {

// Replaces each "%s" in turn by the next argument; surplus placeholders become empty, surplus
// arguments are ignored. No other directive is interpreted.
std::string Format(std::string_view format, std::initializer_list<std::string_view> args);

// Fill-ins of the formats below.
inline constexpr std::string_view kReceptor = "receptor";
inline constexpr std::string_view kEmissor = "emissor";
inline constexpr std::string_view kEnviando = "enviando";
inline constexpr std::string_view kRecebendo = "recebendo";
inline constexpr std::string_view kArquivos = "arquivos";
inline constexpr std::string_view kEnviado = "enviado";
inline constexpr std::string_view kRecebido = "recebido";
inline constexpr std::string_view kRemotamente = "remotamente";
inline constexpr std::string_view kLocalmente = "localmente";
inline constexpr std::string_view kEnvio = "envio";
inline constexpr std::string_view kDownload = "download";
inline constexpr std::string_view kSendAborted = "O envio dos dados será abortado";
inline constexpr std::string_view kReceiveAborted = "A busca dos dados será abortada";
inline constexpr std::string_view kWriteReceipt = "gravar o recibo de envio do arquivo";
inline constexpr std::string_view kConfigUpdateFailed =
    "Problemas ao atualizar o arquivo de configuração do cliente";
inline constexpr std::string_view kCreateTempFolder =
    "criar o diretório temporário de trabalho. Esta operação será cancelada";
inline constexpr std::string_view kExtractHeader =
    "extrair o arquivo de header durante validação do arquivo a ser enviado. Esta operação será "
    "cancelada";
inline constexpr std::string_view kProcessHeader =
    "processar o arquivo de header durante validação do arquivo a ser enviado. Esta operação "
    "será cancelada";
inline constexpr std::string_view kExtractProtocol =
    "extrair o arquivo de protocolo durante a verificação de reenvio do arquivo. Esta operação "
    "será cancelada";
inline constexpr std::string_view kSearchProtocol =
    "procurar o arquivo de protocolo durante a verificação de reenvio do arquivo. Esta operação "
    "será cancelada";

// Result-code messages.
inline constexpr std::string_view kErrorDoing = "Erro ao %s.";  // 16-21 and the resend check
inline constexpr std::string_view kSendFailed = "Erro ao enviar o arquivo para %s. %s.";  // 1, 23
inline constexpr std::string_view kReceiveFailed = "Erro ao receber o arquivo d%s. %s.";  // 1, 23
inline constexpr std::string_view kServerNotServing =
    "O computador d%s não está %s %s no momento.";  // 5, 6
inline constexpr std::string_view kFileToSendMissing =
    "O arquivo a ser enviado (%s) não existe.";  // 7
inline constexpr std::string_view kConnectionFailed =
    "Ocorreu um erro no estabelecimento da conexão com o computador d%s.";  // 8
inline constexpr std::string_view kConnectionFailedDetails =
    "Este problema pode estar sendo causado por uma das seguintes razões: \r\na) a Internet está "
    "muito congestionada e a conexão com o computador d%s não pôde ser realizada;\r\nb) o "
    "computador d%s não está aceitando conexões ou está congestionado neste momento;\r\nc) por "
    "questões de configuração da rede na qual seu computador está conectado, não será possível "
    "conectar diretamente com o computador d%s;\r\nd) seu computador não está conectado na "
    "Internet.\r\nNos casos 'a' e 'b' você pode tentar executar esta operação mais tarde. No caso "
    "'c', consulte o pessoal do suporte de sua rede.";
inline constexpr std::string_view kNotAccepting =
    "O servidor de arquivos não está aceitando conexões no momento.";  // 9
inline constexpr std::string_view kNotAcceptingDetails =
    "Este problema pode estar sendo causado por uma das seguintes razões: \r\na) o servidor de "
    "arquivos está em manutenção;\r\nb) o computador d%s está em manutenção.\r\nSe você desejar, "
    "pode tentar executar esta operação mais tarde.";
inline constexpr std::string_view kValidationFailed =
    "Erro na validação do arquivo %s. Tente enviar novamente e, caso o erro persista, entre em "
    "contato com %s.";  // 11
inline constexpr std::string_view kProtocolateFailed =
    "Erro ao protocolar %s o %s do arquivo.";  // 12, 13
inline constexpr std::string_view kProtocolateFailedDetails = "Ocorreu o seguinte erro: %s.";
inline constexpr std::string_view kFormNotServed =
    "O formulário %s não está sendo %s. Para maiores informações entre em contato com %s.";  // 15
inline constexpr std::string_view kLoadServerSettingsFailed =
    "Erro ao carregar as configurações do servidor de arquivos.";  // 22
inline constexpr std::string_view kNoFreeSpace =
    "Não existe espaço suficiente no drive '%s' para %s.";  // 24
inline constexpr std::string_view kCommunicationFailed =
    "Ocorreu um erro durante a comunicação com o computador d%s. %s.";  // 25
inline constexpr std::string_view kCommunicationFailedDetails =
    "Este problema pode estar sendo causado por uma das seguintes razões: \r\na) a Internet está "
    "muito congestionada e a conexão com o computador d%s foi interrompida; \r\nb) a conexão com "
    "o computador d%s ficou inativa por muito tempo e foi interrompida; \r\nc) ocorreu um erro "
    "durante o processamento desta operação no computador d%s.\r\nSe você desejar, pode tentar "
    "executar esta operação mais tarde.\r\n\r\nDescrição do erro: %s.";
inline constexpr std::string_view kNoWinsock2 =
    "Você deve instalar o suporte de rede adequado (Winsock2) para utilizar o módulo de "
    "envio/recepção de formulários.";  // 26
inline constexpr std::string_view kNoWinsock2Details =
    "O módulo de envio/recepção de formulários necessita do suporte de rede adequado (Winsock2) "
    "para trabalhar corretamente. Para obter a atualização do suporte de rede ou em caso de "
    "dúvida na sua instalação, entre em contato com %s.";
inline constexpr std::string_view kServerDataIncorrect =
    "Os dados para conexão com o computador %s de arquivos estão incorretos.";  // 27
inline constexpr std::string_view kClientInfoIncorrect =
    "As informações do cliente que deseja fazer o download estão incorretas.";  // 28
inline constexpr std::string_view kServerCongested =
    "O servidor de arquivos está muito congestionado no momento. Você pode executar esta "
    "operação mais tarde.";  // 30
inline constexpr std::string_view kAvailabilityUnknown =
    "Erro ao verificar a disponibilidade do formulário %s.";  // 32, 33

// Messages of FileSent and PrintComReceipt.
inline constexpr std::string_view kSentButUnreadable =
    "Este arquivo já foi enviado através do VornCom, mas ocorreu um erro ao ler os dados do "
    "recibo de envio.";  // 21
inline constexpr std::string_view kNoPrinter =
    "Erro ao acessar a definição da impressora ativa. Você deve instalar uma impressora antes de "
    "gerar o recibo de envio dos dados.";
inline constexpr std::string_view kViewingReceipt = "Visualizando recibo. Aguarde...";

// The transmission receipt's own texts.
inline constexpr std::string_view kReceiptSetupTitle = "Configuração do Recibo";
inline constexpr std::string_view kReceiptStatusTitle = "Impressão do Recibo";
inline constexpr std::string_view kReceiptPreviewTitle = "Visualização do Recibo";
inline constexpr std::string_view kReceiptJobTitle = "Recibo";
inline constexpr std::string_view kReceiptPrintingStatus = "Imprimindo página %p";
inline constexpr std::string_view kReceiptSpoolingStatus = "Gerando a página %p do relatório";
inline constexpr std::string_view kReceiptTitle = "RECIBO DE ENVIO DE FORMULÁRIOS";
inline constexpr std::string_view kReceiptProtocolLabel = "Número do protocolo";
inline constexpr std::string_view kReceiptRequesterLabel = "Solicitante";
inline constexpr std::string_view kReceiptIdentificationLabel = "CPF/CGC";
inline constexpr std::string_view kReceiptFormLabel = "Formulário";
// Starts with eleven blanks, which indent the paragraph's first line.
inline constexpr std::string_view kReceiptStatement =
    "           O sistema de recepção de formulários eletrônicos d%cteNomeInstituicao% registra "
    "que, em %cteDataTransmissao% às %cteHoraTransmissao%, o formulário identificado acima foi "
    "recebido e reconhecido n%cteNomeInstituicao% por meio do número de protocolo "
    "%cteNumeroProtocolo%.";
inline constexpr std::string_view kPlaceholderDate = "%cteDataTransmissao%";
inline constexpr std::string_view kPlaceholderTime = "%cteHoraTransmissao%";
inline constexpr std::string_view kPlaceholderInstitution = "%cteNomeInstituicao%";
inline constexpr std::string_view kPlaceholderProtocol = "%cteNumeroProtocolo%";
// File name and reception desk; "guiche" is written without its accent.
inline constexpr std::string_view kReceiptReceivedBy =
    "O arquivo %s foi recebido pelo guiche '%s'.";

// Status texts and questions of the transfer window.
inline constexpr std::string_view kConnecting = "Conectando com o computador d%s. Aguarde...";
inline constexpr std::string_view kCheckingAvailability =
    "Verificando disponibilidade %s. Aguarde...";
inline constexpr std::string_view kOfServices = "de serviços";
inline constexpr std::string_view kUpdatingConfiguration =
    "Atualizando arquivo de configuração. Aguarde...";
inline constexpr std::string_view kStartingTransmission = "Iniciando a transmissão. Aguarde...";
inline constexpr std::string_view kSendingData = "Enviando dados. Aguarde...";
inline constexpr std::string_view kReceivingData = "Recebendo dados. Aguarde...";
inline constexpr std::string_view kValidatingFile = "Validando o arquivo %s. Aguarde...";
inline constexpr std::string_view kProtocolating = "Protocolando %s o %s do arquivo. Aguarde...";
inline constexpr std::string_view kFileSentOk = "Arquivo enviado com sucesso.";
inline constexpr std::string_view kReceiveCancelled = "A recepção dos dados foi cancelada.";
inline constexpr std::string_view kEndTransmission = "Você deseja encerrar a transmissão?";
inline constexpr std::string_view kAlreadySentViewReceipt =
    "Este arquivo já foi enviado através do VornCom. Deseja visualizar o recibo de envio?";
inline constexpr std::string_view kConnectError = "Erro ao conectar com o computador d%s.";
inline constexpr std::string_view kSendTheFile = "enviar o arquivo";

// Reasons of the transfer failures (codes 1 and 23).
inline constexpr std::string_view kSendProblems = "Problemas no envio dos dados";
inline constexpr std::string_view kStartProblems = "Problemas no início da transmissão";
inline constexpr std::string_view kNoMemoryToSend =
    "Não existe memória suficiente para enviar o arquivo";
inline constexpr std::string_view kNoMemoryToReceive =
    "Não existe memória suficiente para receber o arquivo";
inline constexpr std::string_view kReceiveProblems = "Problemas na recepção dos dados";
inline constexpr std::string_view kSaveProblems = "Problemas ao salvar os dados localmente";

// The transfer flows' failures that reach the user in the details of an interrupted transfer.
inline constexpr std::string_view kInvalidPacketSize =
    "O servidor definiu um tamanho de pacote inválido (%s); o limite é de %s bytes.";
inline constexpr std::string_view kNoProtocolNumber =
    "O servidor não devolveu o número de protocolo da transmissão";
inline constexpr std::string_view kCannotOpenFile = "Não foi possível abrir o arquivo \"%s\".";
inline constexpr std::string_view kUnknownError = "Erro desconhecido";

// Secure connection (TLS): why one could not be made, shown in the details of code 8.
inline constexpr std::string_view kTlsExpired = "O certificado do servidor expirou em %s.";
inline constexpr std::string_view kTlsNotYetValid =
    "O certificado do servidor só é válido a partir de %s.";
inline constexpr std::string_view kTlsWrongName = "O certificado do servidor não pertence a '%s'.";
inline constexpr std::string_view kTlsUntrusted =
    "O certificado do servidor não é de uma autoridade confiável.";
inline constexpr std::string_view kTlsCertificateRejected =
    "O certificado do servidor não pôde ser verificado (erro %s).";
inline constexpr std::string_view kTlsServerNotTls = "O servidor não usa conexão segura (TLS).";
inline constexpr std::string_view kTlsServerRequiresTls =
    "O servidor exige conexão segura (TLS), que está desligada neste computador.";
inline constexpr std::string_view kTlsClientCertificateRefused =
    "O servidor recusou o certificado do cliente.";
inline constexpr std::string_view kTlsClientCertificateRequired =
    "O servidor exige um certificado do cliente, e nenhum está configurado.";
inline constexpr std::string_view kTlsVersionRefused =
    "O servidor não aceita as versões 1.2 e 1.3 do TLS.";
inline constexpr std::string_view kTlsClosedInHandshake =
    "O servidor encerrou a conexão durante a negociação da conexão segura (TLS).";
inline constexpr std::string_view kTlsHandshakeFailed =
    "A negociação da conexão segura (TLS) com o servidor falhou (%s).";
inline constexpr std::string_view kTlsChannelFailed = "A conexão segura (TLS) falhou (%s).";
inline constexpr std::string_view kTlsCaFileUnreadable =
    "Não foi possível ler o arquivo de autoridades confiáveis '%s'.";
inline constexpr std::string_view kTlsSystemStoreUnreadable =
    "Não foi possível ler as autoridades confiáveis do sistema.";
inline constexpr std::string_view kTlsClientCertificateIncomplete =
    "O certificado do cliente e a sua chave devem ser configurados juntos.";
inline constexpr std::string_view kTlsClientCertificateUnreadable =
    "Não foi possível carregar o certificado do cliente '%s' com a chave '%s'.";
inline constexpr std::string_view kTlsHandshakeTimedOut =
    "na negociação da conexão segura (TLS) com o servidor";
inline constexpr std::string_view kSecureConnectionFailedDetails =
    "%s\r\nA conexão segura com o computador d%s não pôde ser estabelecida. Consulte o pessoal do "
    "suporte de sua rede.";

// Connections through an HTTP proxy: why the proxy gave no tunnel. The proxy and the target are
// named "host:port".
inline constexpr std::string_view kProxyInvalidSetting =
    "A definição de proxy em %s é inválida; use host:porta ou http://[usuário:senha@]host:porta.";
inline constexpr std::string_view kProxyNotFound = "Não foi possível localizar o proxy %s.";
inline constexpr std::string_view kProxyUnreachable = "Não foi possível conectar ao proxy %s.";
inline constexpr std::string_view kProxyTimeout = "O proxy %s não respondeu a tempo.";
inline constexpr std::string_view kProxyClosed = "O proxy %s encerrou a conexão sem responder.";
inline constexpr std::string_view kProxyInvalidAnswer = "O proxy %s respondeu de forma inválida.";
inline constexpr std::string_view kProxyAnswerTooLarge =
    "O proxy %s enviou uma resposta grande demais.";
// The status code in parentheses.
inline constexpr std::string_view kProxyAuthRequired = "O proxy exige autenticação (%s).";
inline constexpr std::string_view kProxyAuthRefused = "O proxy recusou a autenticação (%s).";
inline constexpr std::string_view kProxyRefused = "O proxy recusou a conexão com %s (%s).";
inline constexpr std::string_view kProxyBadTarget =
    "O nome do servidor contém caracteres que não podem ser pedidos ao proxy.";
// Details of code 8 when the proxy is to blame: the reason, then the institution.
inline constexpr std::string_view kProxyFailedDetails =
    "%s\r\nA conexão com o computador d%s passa pelo proxy da rede, que não a estabeleceu. "
    "Consulte o pessoal do suporte de sua rede.";

}  // namespace vorncom::msg
