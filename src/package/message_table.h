#pragma once

#include <optional>
#include <string>

#include "common/exception.h"

namespace vorncom::package {

// Failures of the document-type message table: a file that is no database (or not this table),
// an unreadable or unwritable file. The message is the database engine's own text.
VORNCOM_EXCEPTION(EMessageTableError);

// The table's file name, in the configuration folder.
inline constexpr const char* kMessageTableFileName = "en_tipo_doc_solicitacao.cds";

// The document-type message table: per request type and version, the last message the reception
// server attached to a request. It is an SQLite database holding one table,
// "en_tipo_doc_solicitacao", with the text columns TPO_DOC_SOLICITACAO (required),
// COD_VERSAO_DOC_SOLICITACAO (required) and TXT_MSG_DOC_SOLICITACAO (lines separated by CR LF).
// Rows are found by the pair (type, version) compared without regard to Windows-1252 letter case;
// the comparison is made here rather than by a collation stored in the schema, so that any SQLite
// client can still read the file. Values are stored in full, UTF-8.

// Stores `message` for (type, version): updates the first row whose pair matches, else appends
// one. When the file does not exist it is created — with its folder and missing parents — only
// if `message` holds something other than blanks; answers whether the table was written.
// Changes are committed atomically. Throws EMessageTableError on any failure.
bool StoreRequestMessage(const std::string& table_path, const std::string& type,
                         const std::string& version, const std::string& message);

// The message stored for (type, version), letter case ignored; an empty string for a row without
// one; nullopt when the file or a matching row does not exist. Opens the file read-only. Throws
// EMessageTableError when the file is no readable table.
std::optional<std::string> LookupRequestMessage(const std::string& table_path,
                                                const std::string& type,
                                                const std::string& version);

}  // namespace vorncom::package
