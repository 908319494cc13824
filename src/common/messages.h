#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The user-visible texts of the library, its tools and the reception server's answers, in one
// table. Texts with "%s" are filled by Format; the institution name carries its own article, so
// "d%s" forms the Portuguese contraction. Peers and tests compare them byte for byte.
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
// Status of the preview after printing to the "PDF" printer; %1: the file written.
inline constexpr std::string_view kPreviewPdfWritten = "Documento gravado em %1";
// Subject of the receipt's PDF; %1: the protocol number.
inline constexpr std::string_view kReceiptPdfSubject = "Recibo de entrega do protocolo %1";
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
// Institution, the attempt about to be made, the attempts in all, the seconds of the pause.
inline constexpr std::string_view kLinkLostRetrying =
    "A conexão com o computador d%s foi perdida. Nova tentativa (%s de %s) em %s s. Aguarde...";
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

// Package validation and protocol recording: the messages of the package layer's exceptions.
inline constexpr std::string_view kSearchProtocolFailed =
    "Erro ao procurar pelo arquivo de protocolo: ";  // + the archive's message
inline constexpr std::string_view kWorkFolderFailed = "Erro ao criar o diretório de trabalho.";
inline constexpr std::string_view kExtractProtocolFailed =
    "Erro ao extrair o arquivo de protocolo de \"%s\".";  // package path
inline constexpr std::string_view kValidationFolderFailed =
    "Erro ao criar o diretório para validação do arquivo.";
inline constexpr std::string_view kExtractHeaderFailed =
    "Erro ao extrair o arquivo de header de \"%s\" Erro: %s.";  // package path, cause
inline constexpr std::string_view kHeaderMissing =
    "O arquivo %s) não possui o arquivo de controle (header) (%s).";  // package path, header name
inline constexpr std::string_view kProtocolErrorPrefix =
    "Erro ao protocolar a transmissão do arquivo \"%s\". ";  // file name; a case text follows
inline constexpr std::string_view kRecordNotCreated =
    "Problemas ao criar o arquivo com os dados da transmissão!";
inline constexpr std::string_view kSentFileMissing = "O arquivo transmitido não foi encontrado!";
inline constexpr std::string_view kRecordNotInserted =
    "Problemas ao compactar o arquivo com os dados da transmissão!";
inline constexpr std::string_view kMessageTableFailed =
    "Problemas ao criar o arquivo de mensagem associado à solicitação! Erro: ";  // + the cause

// ---------------------------------------------------------------------------------------------
// Remote calls: failures of a connection or a call. They reach the user as the failure text in
// the details of codes 1, 8, 12 and 25.
inline constexpr std::string_view kCallFailed = "Falha na comunicação com o servidor %s: %s.";
inline constexpr std::string_view kCallTimedOut = "Tempo esgotado %s (%s).";  // phase, endpoint
inline constexpr std::string_view kWhileConnecting = "ao conectar com o servidor";
inline constexpr std::string_view kWhileSending = "ao enviar dados ao servidor";
inline constexpr std::string_view kWhileAwaitingReply = "aguardando resposta do servidor";
inline constexpr std::string_view kClosedByServer = "conexão encerrada pelo servidor";
inline constexpr std::string_view kNoServerDefined = "Nenhum servidor foi definido para a conexão.";
inline constexpr std::string_view kInvalidServerPort = "Porta inválida para o servidor %s.";
inline constexpr std::string_view kConnectionRefused = "O servidor %s recusou a conexão: %s";
inline constexpr std::string_view kNoHelloReply =
    "O servidor não respondeu à saudação do protocolo.";
inline constexpr std::string_view kUnsupportedServerVersion =
    "Versão de protocolo do servidor não suportada: %s.";
inline constexpr std::string_view kHostNotFound = "Não foi possível localizar o servidor %s: %s.";
inline constexpr std::string_view kConnectFailed =
    "Não foi possível conectar com o servidor %s: %s.";
inline constexpr std::string_view kAddressUnavailable = "endereço indisponível";
inline constexpr std::string_view kCallTooLarge =
    "Chamada grande demais para o limite de quadro de %s bytes.";
inline constexpr std::string_view kConnectionNotOpen = "A conexão com o servidor não está aberta.";
inline constexpr std::string_view kReplyOutOfSequence = "Resposta fora de sequência do servidor.";
inline constexpr std::string_view kReplyArgumentInvalid =
    "Índice de argumento inválido na resposta.";
inline constexpr std::string_view kUnexpectedFrame = "Quadro inesperado do servidor.";
inline constexpr std::string_view kReplyNotBoolean =
    "O servidor respondeu a %s com um valor que não é lógico.";
inline constexpr std::string_view kReplyNotInteger =
    "O servidor respondeu a %s com um valor que não é inteiro.";
inline constexpr std::string_view kReplyNotText =
    "O servidor respondeu a %s com um valor que não é texto.";
inline constexpr std::string_view kReplyNotByteCount =
    "O servidor respondeu a %s com um valor que não é uma contagem de bytes.";
inline constexpr std::string_view kReplyNotProtocolData =
    "O servidor respondeu a %s com um valor que não são dados de protocolo.";
inline constexpr std::string_view kUnknownMethod = "Método desconhecido: %s.";
inline constexpr std::string_view kWrongArgumentCount = "Número de argumentos incorreto para %s.";
inline constexpr std::string_view kArgumentNotText = "Argumento inválido: esperava-se um texto.";
inline constexpr std::string_view kArgumentNotNumber = "Argumento inválido: esperava-se um número.";
inline constexpr std::string_view kNoServerAvailable =
    "Nenhum servidor de recepção disponível para a conexão.";

// ---------------------------------------------------------------------------------------------
// Remote calls: faults of a wire frame, each filled into kWireFault.
inline constexpr std::string_view kWireFault =
    "Erro de protocolo na comunicação com o servidor: %s.";
inline constexpr std::string_view kWireBadUtf8 = "texto UTF-8 inválido";
inline constexpr std::string_view kWireIntegerRange = "inteiro fora da faixa de 32 bits";
inline constexpr std::string_view kWireText = "texto";
inline constexpr std::string_view kWireUnknownExtension = "tipo de extensão desconhecido";
inline constexpr std::string_view kWireBadVariantArray = "matriz de variantes mal formada";
inline constexpr std::string_view kWireBadLowerBound = "limite inferior inválido";
inline constexpr std::string_view kWireUnsupportedType = "valor de tipo não suportado";
inline constexpr std::string_view kWireFrameTooLarge = "quadro grande demais";
inline constexpr std::string_view kWireFrameInvalid = "quadro inválido (%s)";
inline constexpr std::string_view kWireTrailingData = "dados excedentes no quadro";
inline constexpr std::string_view kWireMalformedFrame = "quadro mal formado";
inline constexpr std::string_view kWireEmptyFrame = "quadro vazio";
inline constexpr std::string_view kWireFrameOverLimit = "quadro de %s bytes excede o limite de %s";
inline constexpr std::string_view kWireBadFrameKind = "tipo de quadro inválido";
inline constexpr std::string_view kWireUnknownFrameKind = "tipo de quadro desconhecido";
inline constexpr std::string_view kWireBadVersion = "versão inválida";
inline constexpr std::string_view kWireBadIdentifier = "identificador inválido";
inline constexpr std::string_view kWireBadObjectName = "nome de objeto inválido";
inline constexpr std::string_view kWireBadSequence = "número de sequência inválido";
inline constexpr std::string_view kWireBadMethodName = "nome de método inválido";
inline constexpr std::string_view kWireBadArguments = "argumentos mal formados";
inline constexpr std::string_view kWireBadReturnArguments = "argumentos de retorno mal formados";
inline constexpr std::string_view kWireBadArgumentIndex = "índice de argumento inválido";
inline constexpr std::string_view kWireBadMessage = "mensagem inválida";

// ---------------------------------------------------------------------------------------------
// Server lists: why a list is refused.
inline constexpr std::string_view kServerListTruncated = "Lista de servidores truncada.";
inline constexpr std::string_view kServerListIntegerExpected =
    "Valor inteiro esperado na lista de servidores.";
inline constexpr std::string_view kServerListTextExpected =
    "Texto esperado na lista de servidores.";
inline constexpr std::string_view kServerListBooleanExpected =
    "Valor lógico esperado na lista de servidores.";
inline constexpr std::string_view kServerListUnknownProperty =
    "Propriedade desconhecida na lista de servidores: %s.";
inline constexpr std::string_view kServerListInvalid = "Lista de servidores inválida.";
inline constexpr std::string_view kServerListTooManyServers =
    "Lista de servidores com mais de %s servidores.";
inline constexpr std::string_view kServerListTooManyBytes =
    "Lista de servidores com mais de %s bytes.";

// ---------------------------------------------------------------------------------------------
// Environment: why a registry-layer value cannot be read (key, or key and value name), and
// the operating system's description.
inline constexpr std::string_view kRegistryKeyBlank =
    "O nome da chave do registro que se quer ler está em branco.";
inline constexpr std::string_view kRegistryValueBlank =
    "O nome do valor do registro que se quer ler está em branco.";
inline constexpr std::string_view kRegistryOpenFailed =
    "Erro ao abrir a chave do registro (%s\\%s).";
inline constexpr std::string_view kRegistryKeyMissing = "A chave (%s) não existe no registro.";
inline constexpr std::string_view kRegistryValueMissing =
    "A valor da chave (%s\\%s) não existe no registro.";
inline constexpr std::string_view kRegistryReadFailed = "Erro ao ler a chave do registro (%s\\%s).";
inline constexpr std::string_view kUnknownOperatingSystem = "SO Indefinido";  // not Windows

// ---------------------------------------------------------------------------------------------
// Message dialog: titles by kind, button captions ('&' marks the access key), the check box,
// the details line of unattended output, and a routine given a blank identifier.
inline constexpr std::string_view kTitleWarning = "Aviso";
inline constexpr std::string_view kTitleError = "Erro";
inline constexpr std::string_view kTitleInformation = "Informação";
inline constexpr std::string_view kTitleConfirmation = "Confirmação";
inline constexpr std::string_view kTitleMessage = "Mensagem";
inline constexpr std::string_view kButtonYes = "&Sim";
inline constexpr std::string_view kButtonNo = "&Não";
inline constexpr std::string_view kButtonCancel = "Cancelar";
inline constexpr std::string_view kButtonRetry = "&Repetir";
inline constexpr std::string_view kButtonAbort = "&Abortar";
inline constexpr std::string_view kButtonIgnore = "&Ignorar";
inline constexpr std::string_view kButtonAll = "&Todos";
inline constexpr std::string_view kButtonNoToAll = "Nã&o para todos";
inline constexpr std::string_view kButtonYesToAll = "Sim para &todos";
inline constexpr std::string_view kButtonHelp = "&Ajuda";
inline constexpr std::string_view kDetails = "Detalhes";
inline constexpr std::string_view kDontShowAgain = "&Não mostrar esta mensagem outra vez.";
inline constexpr std::string_view kBlankDialogIdentifier = "%s gravando especificador em branco";

// ---------------------------------------------------------------------------------------------
// Client configuration file (file name).
inline constexpr std::string_view kConfigFileMissing =
    "O arquivo de configurações (%s) não foi encontrado.";
inline constexpr std::string_view kConfigFileUnreadable =
    "Erro na leitura do arquivo de configurações (%s).";
inline constexpr std::string_view kConfigFileNotCreated =
    "Erro ao criar o arquivo de configurações (%s).";

// ---------------------------------------------------------------------------------------------
// Report preview and print windows. Their English texts are English by design and stay with
// the windows.
inline constexpr std::string_view kPreviewPrint = "Imprimir (Alt+I)";
inline constexpr std::string_view kPreviewSave = "Salvar (Alt+S)";
inline constexpr std::string_view kPreviewZoomIn = "Aumentar zoom (Alt+M)";
inline constexpr std::string_view kPreviewZoomOut = "Diminuir zoom (Alt+N)";
inline constexpr std::string_view kPreviewPageWidth = "Largura da página (Alt+L)";
inline constexpr std::string_view kPreviewWholePage = "Página inteira (Alt+T)";
inline constexpr std::string_view kPreviewZoomPageWidth = "Largura da Página";
inline constexpr std::string_view kPreviewZoomWholePage = "Página Inteira";
inline constexpr std::string_view kPreviewFirstPage = "Primeira página (Ctrl + Home)";
inline constexpr std::string_view kPreviewPreviousPage = "Página anterior (Ctrl + PageUp)";
inline constexpr std::string_view kPreviewNextPage = "Próxima página (Ctrl + PageDown)";
inline constexpr std::string_view kPreviewLastPage = "Última página (Ctrl + End)";
inline constexpr std::string_view kPreviewCloseButton = "&Fechar";
inline constexpr std::string_view kPreviewClose = "Fechar";
inline constexpr std::string_view kPreviewViewingPage = "Visualizando página %s de %s";
inline constexpr std::string_view kPrintTitle = "Imprimir relatório";
inline constexpr std::string_view kPrintPrinterLabel = "Impressora:";
inline constexpr std::string_view kPrintCopies = "Cópias:";
inline constexpr std::string_view kPrintOptions = "Opções";
inline constexpr std::string_view kPrintRange = " Intervalo de Páginas ";
inline constexpr std::string_view kPrintAllPages = "Todas";
inline constexpr std::string_view kPrintSelection = "Seleção";
inline constexpr std::string_view kPrintPages = "Páginas";
inline constexpr std::string_view kPrintFrom = "de";
inline constexpr std::string_view kPrintTo = "até";
inline constexpr std::string_view kPrintRangeHint =
    "Informe os números das páginas ou intervalos. Por exemplo: 1, 3, 5 ou de 5 até 12";
inline constexpr std::string_view kPrintPrinterButton = "&Impressora";
inline constexpr std::string_view kPrintCancel = "&Cancelar";
inline constexpr std::string_view kPrinterSetupTitle = "Configurar impressora";
inline constexpr std::string_view kPrinterSetupPortrait = "Retrato";
inline constexpr std::string_view kPrinterSetupLandscape = "Paisagem";
inline constexpr std::string_view kPrinterSetupPaper = "Papel:";
inline constexpr std::string_view kPrinterSetupOrientation = "Orientação:";

// ---------------------------------------------------------------------------------------------
// Reception server: answers and refusals it sends to clients. A client shows them as the
// failure text of its step.
inline constexpr std::string_view kSrvControlValueInvalid = "Valor inválido no pacote de controle.";
inline constexpr std::string_view kSrvControlInvalid = "Pacote de controle inválido.";
inline constexpr std::string_view kSrvNoControl = "Pacote de controle não recebido.";
inline constexpr std::string_view kSrvFileNameInvalid = "Nome de arquivo inválido: %s.";
inline constexpr std::string_view kSrvUploadNotCreated =
    "Não foi possível criar o arquivo de recepção.";
inline constexpr std::string_view kSrvUploadWriteFailed = "Erro ao gravar o arquivo recebido.";
inline constexpr std::string_view kSrvUploadStoreFailed = "Erro ao armazenar o arquivo recebido.";
inline constexpr std::string_view kSrvNoUpload = "Nenhum envio de arquivo em andamento.";
inline constexpr std::string_view kSrvDataPacketInvalid = "Pacote de dados inválido.";
inline constexpr std::string_view kSrvByteCountInvalid = "Contagem de bytes inválida.";
inline constexpr std::string_view kSrvUploadTooLarge =
    "O arquivo excede o tamanho máximo aceito pelo servidor.";
inline constexpr std::string_view kSrvNothingToProtocolate =
    "Nenhuma transmissão válida para protocolar.";
inline constexpr std::string_view kSrvDownloadRefused = "O arquivo %s não pode ser enviado.";
inline constexpr std::string_view kSrvDownloadNotOpened = "Não foi possível abrir o arquivo %s.";
inline constexpr std::string_view kSrvNoDownload = "Nenhuma recepção de arquivo em andamento.";
inline constexpr std::string_view kSrvDownloadReadFailed = "Erro ao ler o arquivo.";
inline constexpr std::string_view kSrvEraseFailed = "Não foi possível apagar o arquivo %s.";
inline constexpr std::string_view kSrvSessionLimit =
    "O servidor atingiu o limite de %s sessões simultâneas.";
inline constexpr std::string_view kSrvHelloExpected = "saudação esperada";
inline constexpr std::string_view kSrvUnsupportedVersion = "versão de protocolo não suportada: %s";
inline constexpr std::string_view kSrvUnknownObject = "objeto remoto desconhecido: %s";
inline constexpr std::string_view kSrvCallExpected = "chamada esperada";
inline constexpr std::string_view kSrvSequenceOutOfOrder =
    "número de sequência %s fora de ordem; esperado %s";
inline constexpr std::string_view kSrvUploadUnknown = "Envio %s desconhecido pelo servidor.";
inline constexpr std::string_view kSrvUploadExpired = "O envio %s expirou.";
inline constexpr std::string_view kSrvUploadRegistered =
    "O envio %s já foi protocolado; consulte o registro.";
inline constexpr std::string_view kSrvUploadInUse =
    "O envio %s ainda está em outra conexão; tente de novo em instantes.";
inline constexpr std::string_view kSrvUploadNotAsControl =
    "O nome ou o tamanho do envio não corresponde ao pacote de controle.";
inline constexpr std::string_view kSrvUploadDigestInvalid =
    "Resumo SHA-256 inválido: esperados 64 dígitos hexadecimais minúsculos.";
inline constexpr std::string_view kSrvUploadSizeInvalid = "Tamanho de envio inválido.";
inline constexpr std::string_view kSrvDownloadOffsetInvalid =
    "Posição inválida para retomar a recepção.";
inline constexpr std::string_view kSrvDownloadAlreadyRead =
    "A recepção só pode ser retomada antes do primeiro pacote.";
inline constexpr std::string_view kSrvRegistrationUnreadable =
    "Os dados de protocolo registrados estão ilegíveis.";
inline constexpr std::string_view kSrvRegistryNotOpened = "Não foi possível abrir o banco %s: %s.";
inline constexpr std::string_view kSrvRegistryFailure = "Erro no banco de registros";
inline constexpr std::string_view kSrvRegistryQueryFailed = "Erro ao consultar o banco";
inline constexpr std::string_view kSrvRegistryPrepareFailed = "Erro ao preparar o registro";
inline constexpr std::string_view kSrvRegistryWriteFailed = "Erro ao gravar o registro";
inline constexpr std::string_view kSrvRegistryCommitFailed = "Erro ao confirmar o registro";
inline constexpr std::string_view kSrvRegistryLocationInvalid =
    "Registro inválido (%s): use postgresql://USUÁRIO@HOST:PORTA/BANCO ou sqlite:CAMINHO.";
inline constexpr std::string_view kSrvRegistryMigrationFailed =
    "Erro ao atualizar o esquema do banco";

// ---------------------------------------------------------------------------------------------
// Reception server: its configuration and command line, shown to whoever runs it. Its log lines
// are records, not messages, and stay with the code that writes them.
inline constexpr std::string_view kSrvConfigLineInvalid = "Configuração inválida na linha %s: %s.";
// Line, key, value, reason.
inline constexpr std::string_view kSrvConfigValueInvalid =
    "Configuração inválida na linha %s, %s = \"%s\": %s.";
inline constexpr std::string_view kSrvConfigInvalid = "Configuração inválida: %s.";
inline constexpr std::string_view kSrvConfigUnreadable =
    "Não foi possível ler a configuração %s: %s.";
inline constexpr std::string_view kSrvConfigIntegerExpected =
    "esperado um número inteiro de %s a %s";
inline constexpr std::string_view kSrvConfigBooleanExpected = "esperado true ou false";
inline constexpr std::string_view kSrvConfigAddressExpected = "esperado um endereço IP numérico";
inline constexpr std::string_view kSrvConfigValueEmpty = "o valor não pode ser vazio";
inline constexpr std::string_view kSrvConfigFormSyntax =
    "form espera TIPO | VERSÃO | status do servidor | status do form";
inline constexpr std::string_view kSrvConfigMessageSyntax = "message espera TIPO | VERSÃO | texto";
inline constexpr std::string_view kSrvConfigServerSyntax = "server espera NOME | PORTA | disabled";
inline constexpr std::string_view kSrvConfigUnknownKey = "chave desconhecida \"%s\"";
inline constexpr std::string_view kSrvConfigPacketOverFrame =
    "packet_size %s mais 1024 bytes não cabe em max_frame %s";
inline constexpr std::string_view kSrvConfigNotAFile = "não é um arquivo comum";
inline constexpr std::string_view kSrvConfigTooLarge = "arquivo grande demais";
inline constexpr std::string_view kSrvUsage =
    "Uso: vorncom-server [--config ARQUIVO] [--port PORTA] [--port-file ARQUIVO]\n"
    "\n"
    "Servidor de recepção de formulários do VornCom.\n"
    "\n"
    "  --config ARQUIVO     lê a configuração (chave = valor; veja docs/wire-protocol.md)\n"
    "  --port PORTA         porta de escuta (substitui listen_port; 0 escolhe uma livre)\n"
    "  --port-file ARQUIVO  grava a porta de escuta nesse arquivo quando pronto\n"
    "  --help               mostra esta ajuda\n"
    "  --version            mostra a versão\n"
    "\n"
    "Encerra de forma ordenada com SIGINT ou SIGTERM; SIGHUP relê o certificado TLS.\n";
// Each follows "vorncom-server: " on standard error.
inline constexpr std::string_view kSrvNoDescriptorLimit =
    "não foi possível elevar o limite de arquivos abertos";
inline constexpr std::string_view kSrvMissingValue = "falta o valor de %s";
inline constexpr std::string_view kSrvInvalidPort = "porta inválida: %s";
inline constexpr std::string_view kSrvUnknownOption = "opção desconhecida: %s";
inline constexpr std::string_view kSrvListening = "escutando em %s:%s";
inline constexpr std::string_view kSrvPortFileNotWritten = "não foi possível gravar %s";
inline constexpr std::string_view kSrvSignalReceived = "sinal %s recebido, encerrando";

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
// vorncom-server's TLS: after its "escutando em" line, and on standard error.
inline constexpr std::string_view kSrvOverTls = " (TLS)";
inline constexpr std::string_view kSrvOverPlainTcp = " (TCP sem TLS)";
inline constexpr std::string_view kSrvNoCertificate =
    "nenhum certificado configurado (tls_certificate): as conexões não são cifradas";
inline constexpr std::string_view kSrvTlsReloaded = "certificado TLS recarregado";
inline constexpr std::string_view kSrvNothingToReload = "sem TLS, nada a recarregar";
inline constexpr std::string_view kSrvTlsReloadFailed =
    "%s O certificado anterior continua em uso.";
inline constexpr std::string_view kSrvTlsKeysTogether =
    "tls_certificate e tls_private_key devem ser dados juntos";
inline constexpr std::string_view kSrvTlsClientCaAlone = "tls_client_ca exige tls_certificate";
inline constexpr std::string_view kSrvTlsVersion = "esperado 1.2 ou 1.3";
inline constexpr std::string_view kSrvLogFormat = "esperado text ou json";
inline constexpr std::string_view kSrvHostPortExpected =
    "esperado ENDEREÇO:PORTA, com um endereço IP ([ENDEREÇO]:PORTA para IPv6)";
inline constexpr std::string_view kSrvMetricsListening =
    "monitoramento em %s:%s (/metrics, /health)";
inline constexpr std::string_view kSrvStoreUnusable = "armazenamento inacessível: %s";
inline constexpr std::string_view kSrvTlsFileUnusable = "Não foi possível usar %s %s: %s.";
inline constexpr std::string_view kSrvTlsStartFailed = "Não foi possível iniciar o TLS.";
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

// SHA-256 of a package, and the client's journal of sends and attempts (envios.db) with what
// `vorncom journal` prints of it.
inline constexpr std::string_view kDigestFailed = "O cálculo do SHA-256 falhou.";
inline constexpr std::string_view kDigestFileUnreadable = "Não foi possível ler o arquivo %s: %s.";
// The journal's path, then the reason.
inline constexpr std::string_view kJournalFailure = "Erro no diário de envios %s: %s.";
inline constexpr std::string_view kJournalNewerVersion =
    "versão %s do diário, mais nova que a %s deste programa";
inline constexpr std::string_view kJournalUnknownSend = "envio %s desconhecido";
inline constexpr std::string_view kJournalUnknownState = "estado %s desconhecido no envio %s";
inline constexpr std::string_view kJournalStateMove = "o envio %s não pode passar de %s a %s";
inline constexpr std::string_view kJournalBadField = "campo inválido: %s";
inline constexpr std::string_view kJournalNotAJournal = "o arquivo não é um diário de envios";
inline constexpr std::string_view kJournalNoProtocolNumber =
    "o envio %s não tem número de protocolo";
inline constexpr std::string_view kJournalStateUploading = "enviando";
inline constexpr std::string_view kJournalStateProtocolating = "protocolando";
inline constexpr std::string_view kJournalStateRegistered = "registrado";
inline constexpr std::string_view kJournalStateStamped = "concluído";
inline constexpr std::string_view kJournalStateAbandoned = "abandonado";
// `vorncom journal`: its sections, column headings and verdicts.
inline constexpr std::string_view kJournalListingOf = "Diário de envios: %s";
inline constexpr std::string_view kJournalMissing = "Nenhum diário de envios em %s.";
inline constexpr std::string_view kJournalSends = "Envios";
inline constexpr std::string_view kJournalNoSends = "(nenhum envio)";
inline constexpr std::string_view kJournalAttempts = "Tentativas";
inline constexpr std::string_view kJournalNoAttempts = "(nenhuma tentativa)";
inline constexpr std::string_view kJournalSendHeadings[] = {
    "Estado", "Arquivo", "Tamanho", "Servidor", "Upload", "Protocolo", "Atualizado"};
inline constexpr std::string_view kJournalAttemptHeadings[] = {
    "Início",       "Operação", "Arquivo",
    "Servidor",     "TLS",      "Bytes",
    "Duração (ms)", "Código",   "Mensagem do servidor"};
inline constexpr std::string_view kJournalChainIntact = "Cadeia de tentativas íntegra.";
inline constexpr std::string_view kJournalChainBroken =
    "Cadeia de tentativas alterada a partir da linha %s.";

}  // namespace vorncom::msg
