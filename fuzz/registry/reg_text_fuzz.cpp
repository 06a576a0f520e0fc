// Feeds arbitrary bytes to the .reg decoder and parser, applies what parses to a
// tree, and checks that writing the tree out parses again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry/reg_text.h"
#include "registry/posix/reg_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qmos::reg;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<RegKeyOp> ops;
  RegTextError error;
  if (!ParseRegBytes(bytes, ops, error)) return 0;
  RegTree tree;
  std::string applyError;
  if (!tree.Apply(ops, applyError)) return 0;
  std::string text = FormatRegHeader();
  FormatKeyTree(tree.Hive(qmos::RegRoot::LocalMachine), "HKEY_LOCAL_MACHINE", false, text);
  FormatKeyTree(tree.Hive(qmos::RegRoot::CurrentUser), "HKEY_CURRENT_USER", false, text);
  if (!ParseRegText(text, ops, error)) std::abort();  // what we write must read back
  return 0;
}
