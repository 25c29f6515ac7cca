// Arbitrary bytes as a selector and a usr folder: the text up to the first
// newline is parsed as a selector, the rest becomes the folder of an
// MQRFH2 in front of the message, and the selector is tested against it.
// Neither the parser nor the property reader may crash, read outside
// their input or recurse without bound; a parsed selector always has a
// root that evaluates.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "localqm/core/selector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const char* newline = static_cast<const char*>(memchr(text, '\n', size));
  size_t selectorLength = newline != nullptr ? static_cast<size_t>(newline - text) : size;
  LqmSelector sel;
  if (LqmSelectorParse(text, selectorLength, &sel) != 0) return 0;
  if (sel.Root >= static_cast<int>(sel.Nodes.size())) __builtin_trap();

  std::string folder = newline != nullptr ? std::string(newline + 1, text + size) : "";
  folder.resize((folder.size() + 3) / 4 * 4, ' ');
  MQRFH2 h{};
  memcpy(h.StrucId, MQRFH_STRUC_ID, 4);
  h.Version = MQRFH_VERSION_2;
  h.StrucLength = static_cast<MQLONG>(MQRFH2_LENGTH_2 + 4 + folder.size());
  h.Encoding = MQENC_NATIVE;
  h.NameValueCCSID = 1208;
  MQLONG folderLength = static_cast<MQLONG>(folder.size());
  std::string message(reinterpret_cast<const char*>(&h), MQRFH2_LENGTH_2);
  message.append(reinterpret_cast<const char*>(&folderLength), 4).append(folder);
  MQMD md = {MQMD_DEFAULT};
  memcpy(md.Format, MQFMT_RF_HEADER_2, 8);
  LqmSelectorMatches(sel, md, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size());
  return 0;
}
