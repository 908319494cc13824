#pragma once

#include <cstdint>
#include <string>

#include "common/result_code.h"
#include "common/variant.h"

// The exports' work in C++ terms, after the C argument forms have been read. Each returns the
// result code the export returns and shows its messages through the message routines. They may
// throw; the exports' guard turns a stray failure into a code.
namespace vorncom::iface {

ResultCode SendFileOperation(const std::string& package_path, bool close_after_send);
ResultCode FileSentOperation(const std::string& package_path);
// `client_info` is nullptr when the host passed no variant.
ResultCode GetFileOperation(const std::string& file_name, const Variant* client_info);
ResultCode GetFormStatusOperation(const std::string& form_type, const std::string& form_version,
                                  uint8_t* status);
void PrintComReceiptOperation(const std::string& package_path);

void DefineComServerOperation(const std::string& server, int32_t port, bool fixed);
void DefineComCfgFileOperation(const std::string& path);
// Swallow every failure; elements copied before it keep their new values.
void DefineComProtocolDataOperation(const Variant& data);
void DefineComReceiptFooterOperation(const Variant& lines);

// The server check shared by SendFile, GetFile and GetFormStatus: a usable server definition or
// an existing client configuration file.
bool ServerDefinitionUsable();

}  // namespace vorncom::iface
