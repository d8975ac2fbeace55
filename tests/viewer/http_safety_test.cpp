// The viewer's small safety rules, as a browser or a foreign page would meet them.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "viewer/http_safety.h"

namespace vexa::viewer {
namespace {

TEST(HttpSafety, TokenCookieHostsAndDownloadNames) {
    const std::string header = "theme=dark; vexa_token=abc123;other=1";
    EXPECT_EQ(CookieValue(header, "vexa_token"), "abc123");
    EXPECT_EQ(CookieValue(header, "other"), "1");
    EXPECT_EQ(CookieValue(header, "vexa"), std::nullopt);
    EXPECT_EQ(CookieValue("", "vexa_token"), std::nullopt);
    EXPECT_TRUE(SameSecret("abc", "abc"));
    EXPECT_FALSE(SameSecret("abc", "abd"));
    EXPECT_FALSE(SameSecret("abc", "abcd"));

    struct Case {
        const char* host;
        const char* listen;
        bool ours;
    };
    for (const Case& c : {Case{"127.0.0.1:8080", "127.0.0.1", true}, Case{"localhost:8080", "127.0.0.1", true},
                          Case{"[::1]:8080", "127.0.0.1", true}, Case{"127.0.0.1:8081", "127.0.0.1", false},
                          Case{"evil.example:8080", "127.0.0.1", false}, Case{"127.0.0.1", "127.0.0.1", false},
                          Case{"192.0.2.7:8080", "192.0.2.7", true}, Case{"localhost:8080", "192.0.2.7", false}}) {
        EXPECT_EQ(AddressedToUs(c.host, c.listen, 8080), c.ours) << c.host << " for " << c.listen;
    }

    // A stranger's file name never breaks out of the header's quotes or adds a parameter.
    EXPECT_EQ(ContentDisposition(true, "fax.tif"), "attachment; filename=\"fax.tif\"; filename*=UTF-8''fax.tif");
    EXPECT_EQ(ContentDisposition(false, "a\"b;c\r\nX: y.pdf"),
              "inline; filename=\"a_b_c__X: y.pdf\"; filename*=UTF-8''a%22b%3Bc%0D%0AX%3A%20y.pdf");
    EXPECT_EQ(ContentDisposition(true, "Übersicht.pdf"),
              "attachment; filename=\"__bersicht.pdf\"; filename*=UTF-8''%C3%9Cbersicht.pdf");
    EXPECT_EQ(ContentDisposition(true, ""), "attachment; filename=\"fax\"; filename*=UTF-8''fax");
    // Direction marks never turn "...exe" into "...pdf" in the name offered for saving.
    EXPECT_EQ(ContentDisposition(true, "x\u202Efdp.exe\u2066"), "attachment; filename=\"xfdp.exe\"; filename*=UTF-8''xfdp.exe");
}

}  // namespace
}  // namespace vexa::viewer
