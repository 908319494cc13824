#!/usr/bin/env bash
# The library must export exactly the thirteen functions of its interface, nothing else.
set -euo pipefail
expected="DefineComCfgFile DefineComHelpFile DefineComInstitutionLogo DefineComInstitutionName
DefineComProtocolData DefineComReceiptFooter DefineComServer FileSent GetComLastConnectionInfo
GetFile GetFormStatus PrintComReceipt SendFile"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
wanted=$(echo $expected | tr ' ' '\n' | sort | tr '\n' ' ')
if [ "$actual" != "$wanted" ]; then
  echo "exported symbols differ"
  echo "expected: $wanted"
  echo "actual:   $actual"
  exit 1
fi
echo "exactly the thirteen exports"
