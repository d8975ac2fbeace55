#include "viewer/web_assets.h"

#include <vector>

#include "viewer/web_files.h"

namespace vexa::viewer {
namespace {

constexpr std::string_view kIndexPath = "/index.html";

// By name, so that a file added to viewer/web/ needs no code here; the server sends nosniff, so a
// wrong type would keep the browser from using the file.
std::string_view ContentTypeOf(std::string_view path) {
    if (path.ends_with(".html")) return "text/html; charset=utf-8";
    if (path.ends_with(".css")) return "text/css; charset=utf-8";
    if (path.ends_with(".js")) return "text/javascript; charset=utf-8";
    if (path.ends_with(".svg")) return "image/svg+xml";
    if (path.ends_with(".png")) return "image/png";
    return "application/octet-stream";
}

std::vector<WebAsset> MakeAssets() {
    std::vector<WebAsset> assets;
    for (const EmbeddedWebFile& file : EmbeddedWebFiles()) {
        const std::string_view type = ContentTypeOf(file.path);
        if (file.path == kIndexPath) assets.push_back({"/", type, file.body});
        assets.push_back({file.path, type, file.body});
    }
    return assets;
}

}  // namespace

const WebAsset* FindWebAsset(std::string_view path) {
    static const std::vector<WebAsset> assets = MakeAssets();
    for (const WebAsset& asset : assets) {
        if (asset.path == path) return &asset;
    }
    return nullptr;
}

}  // namespace vexa::viewer
