// libFuzzer target: XML Spreadsheet 2003, as the archive's "打开" reads them.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzWorkbook(data, size, ReadXmlSpreadsheetBytes);
}
