# Writes the panel's page files into a C++ source of byte arrays (assets.h
# declares the lookup), so that daqctl serves them from the binary.
#   cmake -DBASE=<folder> "-DFILES=<file;...>" -DOUTPUT=<source> -P embed_assets.cmake
# FILES are relative to BASE; each is served under its own name.
set(source "// Made by embed_assets.cmake from the panel's page files. Do not edit.\n#include \"assets.h\"\n\n")
string(APPEND source "#include <cstring>\n\nnamespace daqctl::panel {\nnamespace {\n\n")
set(table "")
set(index 0)
foreach(file IN LISTS FILES)
  file(READ "${BASE}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Sixteen bytes a line.
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
         "\\1\n" bytes "${bytes}")
  get_filename_component(name "${file}" NAME)
  get_filename_component(extension "${file}" LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "application/javascript; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  else()
    message(FATAL_ERROR "embed_assets: no content type for ${file}")
  endif()
  string(APPEND source "// ${file}\nconst unsigned char kFile${index}[] = {\n${bytes}0};\n\n")
  string(APPEND table "    {\"${name}\", \"${type}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND source "const Asset kAssets[] = {\n${table}};\n\n}  // namespace\n\n")
string(APPEND source "const Asset* FindAsset(std::string_view name) {\n")
string(APPEND source "  for (const Asset& asset : kAssets) {\n    if (name == asset.name) return &asset;\n  }\n  return nullptr;\n}\n\n")
string(APPEND source "}  // namespace daqctl::panel\n")
# Rewritten only when it changes, so that an unchanged page compiles nothing.
file(WRITE "${OUTPUT}.new" "${source}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
