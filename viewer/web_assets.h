// The viewer's web page (viewer/web/: index.html, viewer.css, viewer.js) as the server hands it
// out: built into the program, found by the path a browser asks for, with its content type.
#pragma once

#include <string_view>

namespace vexa::viewer {

struct WebAsset {
    std::string_view path;         // "/", "/index.html", "/viewer.css", "/viewer.js"
    std::string_view contentType;  // e.g. "text/html; charset=utf-8"
    std::string_view body;
};

// The asset served at `path` ("/" is index.html), or nullptr when there is none. The pointer stays
// valid for the whole run.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace vexa::viewer
