// The files of viewer/web/ as built into the program. Their definition, web_files.cpp, is
// generated at build time by viewer/embed_web.cmake; web_assets.h is what the server uses.
#pragma once

#include <span>
#include <string_view>

namespace vexa::viewer {

struct EmbeddedWebFile {
    std::string_view path;  // "/" and the file's name in viewer/web/, e.g. "/viewer.js"
    std::string_view body;  // the file's bytes, unchanged
};

std::span<const EmbeddedWebFile> EmbeddedWebFiles();

}  // namespace vexa::viewer
