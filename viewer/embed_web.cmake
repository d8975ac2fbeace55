# Writes the files of viewer/web/ into a C++ source, so that `vexa view` serves its page from the
# program itself with nothing to install beside it. Run at build time (see CMakeLists.txt):
#   cmake -DWEB_DIR=<viewer/web> -DWEB_FILES=index.html,viewer.css,viewer.js -DOUTPUT=<web_files.cpp> -P embed_web.cmake
# Each file becomes a string literal of \xNN escapes only, so no byte of it (a quote, a backslash,
# a ")" of a raw string) can end the literal early, and the file's bytes reach the program unchanged.
cmake_minimum_required(VERSION 3.25)

foreach(required WEB_DIR WEB_FILES OUTPUT)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "embed_web.cmake needs -D${required}=...")
    endif()
endforeach()

string(REPLACE "," ";" files "${WEB_FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS files)
    file(READ "${WEB_DIR}/${name}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    # 16 bytes a line keeps the generated source readable (CMake's regular expressions have no {n}).
    string(REPEAT "\\\\x[0-9a-f][0-9a-f]" 16 line)
    string(REGEX REPLACE "(${line})" "\\1\n" escaped "${escaped}")
    string(REGEX REPLACE "\n$" "" escaped "${escaped}")
    string(REGEX REPLACE "([^\n]+)" "    \"\\1\"" escaped "${escaped}")
    if(escaped STREQUAL "")
        set(escaped "    \"\"")
    endif()
    string(APPEND arrays "// ${name}\nconstexpr char kFile${index}[] =\n${escaped};\n\n")
    string(APPEND entries "    {\"/${name}\", {kFile${index}, sizeof kFile${index} - 1}},\n")
    math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp"
"// Generated at build time by viewer/embed_web.cmake from the files of viewer/web/: edit those instead.
#include \"viewer/web_files.h\"

#include <array>

namespace vexa::viewer {
namespace {

${arrays}constexpr std::array<EmbeddedWebFile, ${index}> kFiles = {{
${entries}}};

}  // namespace

std::span<const EmbeddedWebFile> EmbeddedWebFiles() { return kFiles; }

}  // namespace vexa::viewer
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
