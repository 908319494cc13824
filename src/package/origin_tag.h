#pragma once

#include <string>
#include <string_view>

namespace vorncom::package {

// The origin tag of a package: "Vorn" and five characters taken from the package's file name
// (name and extension, no folders). With the name upper-cased by the Windows-1252 letter rules
// as S1..Sn, the characters are S1, Sn, S2, Sn-1 and Sn-2, each replaced by the character one
// code higher (code 255 becomes 0). "abc.xyz" gives "VornB[CZY".
//
// Two choices where the rule leaves room:
// - ÿ (code 255) is kept as it is when upper-casing, so a name beginning with it gives code 0 in
//   the sixth position;
// - a name shorter than three characters has positions outside the name; each stands for code 0
//   and therefore yields code 1 ("A" gives "VornBB\x01\x01\x01", "" gives five code-1 characters).
//
// Works on Windows-1252 bytes.
std::string ComputeOriginTagCp1252(std::string_view file_name);

// The same for a UTF-8 file name, answering UTF-8. Characters without a Windows-1252 form count
// as '?', as they would in a Windows-1252 file name.
std::string ComputeOriginTag(std::string_view file_name);

// True when a stored tag matches the one computed for `file_name`, both upper-cased (UTF-8).
bool OriginTagMatches(std::string_view stored_tag, std::string_view file_name);

}  // namespace vorncom::package
