# Writes OUT: a C++ file holding the files of FILES (a ;-separated list) as
# byte arrays, found by their names relative to ROOT. Run with cmake -P.
set(body "")
set(table "")
set(index 0)
foreach(file IN LISTS FILES)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  file(RELATIVE_PATH name "${ROOT}" "${file}")
  file(SIZE "${file}" size)
  string(APPEND body "const unsigned char kFile${index}[] = {${hex}0};\n")
  string(APPEND table "    {\"${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from resources/web by EmbedFiles.cmake; do not edit.
#include \"web/WebAssets.h\"

namespace tallowdesk::server::web {
namespace {
${body}struct Item {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};
const Item kItems[] = {
${table}};
}  // namespace

std::optional<std::string_view> FindAsset(std::string_view name) {
    for (const Item& item : kItems) {
        if (name == item.name) {
            return std::string_view(reinterpret_cast<const char*>(item.bytes), item.size);
        }
    }
    return std::nullopt;
}

}  // namespace tallowdesk::server::web
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
