# cmake -DOUTPUT=<file.cpp> -DCATALOGS=<a.mo;b.mo> -P embed_catalogs.cmake: the compiled catalogs
# as byte arrays, by language (the folder name above LC_MESSAGES), for model/embedded_catalogs.h.
set(arrays "")
set(entries "")
set(index 0)
foreach(catalog IN LISTS CATALOGS)
  get_filename_component(folder ${catalog} DIRECTORY)
  get_filename_component(folder ${folder} DIRECTORY)
  get_filename_component(language ${folder} NAME)
  file(READ ${catalog} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(([^,]*,){16})" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const std::uint8_t catalog${index}[] = {\n${bytes}};\n")
  string(APPEND entries "    {\"${language}\", catalog${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT} "// Generated from po/*.po by po/embed_catalogs.cmake.
#include \"model/embedded_catalogs.h\"

namespace updater {
namespace {
${arrays}const EmbeddedCatalog catalogs[] = {
${entries}};
}  // namespace

std::span<const EmbeddedCatalog> EmbeddedCatalogs() { return catalogs; }

}  // namespace updater
")
