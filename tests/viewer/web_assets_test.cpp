// The page built into the program: served at the paths the browser asks for, with types the
// browser accepts under nosniff, and written so the server's Content-Security-Policy (no inline
// script) leaves it working and archive text never becomes markup.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "viewer/web_assets.h"

namespace vexa::viewer {
namespace {

std::string_view Body(std::string_view path) {
    const WebAsset* asset = FindWebAsset(path);
    return asset == nullptr ? std::string_view() : asset->body;
}

TEST(WebAssets, ServedPathsAndTypes) {
    struct Case {
        std::string_view path;
        std::string_view contentType;  // empty: not served
        std::string_view contains;
    };
    const Case cases[] = {
        {"/", "text/html; charset=utf-8", "<title>Vexa - Message Manager</title>"},
        {"/index.html", "text/html; charset=utf-8", "<link rel=\"stylesheet\" href=\"/viewer.css\">"},
        {"/viewer.css", "text/css; charset=utf-8", "table#rows"},
        {"/viewer.js", "text/javascript; charset=utf-8", "/api/version"},
        {"/viewer.js.map", "", ""},
        {"/web/viewer.js", "", ""},
        {"viewer.js", "", ""},
        {"", "", ""},
        {"/../CMakeLists.txt", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path));
        const WebAsset* asset = FindWebAsset(c.path);
        if (c.contentType.empty()) {
            EXPECT_EQ(asset, nullptr);
            continue;
        }
        ASSERT_NE(asset, nullptr);
        EXPECT_EQ(asset->contentType, c.contentType);
        EXPECT_NE(asset->body.find(c.contains), std::string_view::npos);
    }
    EXPECT_EQ(Body("/"), Body("/index.html"));
}

TEST(WebAssets, PageLoadsItsScriptFromTheProgramAndHasNoInlineCode) {
    const std::string_view page = Body("/");
    EXPECT_NE(page.find("<script src=\"/viewer.js\""), std::string_view::npos);
    // Every <script> in the page is an empty element that names its source.
    std::size_t scripts = 0;
    for (std::size_t at = page.find("<script"); at != std::string_view::npos; at = page.find("<script", at + 1)) {
        ++scripts;
        const std::size_t tagEnd = page.find('>', at);
        ASSERT_NE(tagEnd, std::string_view::npos);
        EXPECT_NE(page.substr(at, tagEnd - at).find(" src=\"/"), std::string_view::npos) << page.substr(at, tagEnd - at);
        EXPECT_EQ(page.substr(tagEnd + 1, 9), "</script>");
    }
    EXPECT_EQ(scripts, 1u);
    for (std::string_view inline_code : {" style=", " onclick=", " onload=", "javascript:", "http://", "https://"}) {
        EXPECT_EQ(page.find(inline_code), std::string_view::npos) << inline_code;
    }
}

TEST(WebAssets, ScriptNeverTurnsTextIntoMarkup) {
    const std::string_view script = Body("/viewer.js");
    ASSERT_FALSE(script.empty());
    for (std::string_view markup : {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write", "eval("}) {
        EXPECT_EQ(script.find(markup), std::string_view::npos) << markup;
    }
    EXPECT_NE(script.find("textContent"), std::string_view::npos);
    EXPECT_NE(script.find("encodeURIComponent"), std::string_view::npos);
}

}  // namespace
}  // namespace vexa::viewer
