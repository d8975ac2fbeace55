// The text rules of the Maildir host on their own: HTML renditions and Subject: rewriting.
#include <string>

#include <gtest/gtest.h>

#include "adapters/maildir/html_text.h"
#include "adapters/maildir/subject_header.h"

namespace vexa::maildir {
namespace {

TEST(HtmlToPlainTextTest, RendersWhatAReaderWouldSee) {
    struct Case {
        const char* html;
        const char* text;
    };
    const Case cases[] = {
        {"<p>one</p><p>two<br>three</p>", "one\ntwo\nthree"},
        {"<div>a</div><div>b</div>tail", "a\nb\ntail"},
        {"  spread\n   over\tlines  ", "spread over lines"},
        {"one<br><br>two", "one\n\ntwo"},
        {"&amp; &lt;tag&gt; &quot;q&quot; &#39;s&#39; a&nbsp;&nbsp;b", "& <tag> \"q\" 's' a  b"},
        {"&#8364; &#x20AC; &#X41;", "€ € A"},
        {"&unknown; & alone &#xZZ;", "&unknown; & alone &#xZZ;"},
        {"&#0; &#xD800;", "\xEF\xBF\xBD \xEF\xBF\xBD"},
        {"<head><title>T</title></head><script>var x = '<p>';</script><STYLE>p{}</STYLE>shown", "shown"},
        {"a<!-- <p>hidden</p> -->b", "ab"},
        {"<P CLASS=x>upper</P><BR/>case", "upper\n\ncase"},
        {"line <b>bold</b> end", "line bold end"},
        {"cut <unterminated", "cut"},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlToPlainText(c.html), c.text) << c.html;
}

TEST(ReplaceSubjectFieldTest, ReplacesOnlyTheSubjectField) {
    struct Case {
        const char* name;
        std::string message;
        std::string field;
        std::string expected;
    };
    const Case cases[] = {
        {"folded, CRLF",
         "From: a@example.com\r\nSubject: Fax to\r\n 0049 30 1234567\r\n\tmore\r\nTo: b@example.com\r\n\r\nSubject: body\r\n",
         "Subject: new",
         "From: a@example.com\r\nSubject: new\r\nTo: b@example.com\r\n\r\nSubject: body\r\n"},
        {"last field, folds of the new field",
         "To: b@example.com\nsubject : old\n\nbody\n", "Subject: =?UTF-8?B?x?=\n =?UTF-8?B?y?=",
         "To: b@example.com\nSubject: =?UTF-8?B?x?=\n =?UTF-8?B?y?=\n\nbody\n"},
        {"none: added last",
         "From: a@example.com\r\nTo: b@example.com\r\n\r\nbody\r\n", "Subject: added",
         "From: a@example.com\r\nTo: b@example.com\r\nSubject: added\r\n\r\nbody\r\n"},
        {"none, headers only without a final line end", "From: a@example.com", "Subject: added",
         "From: a@example.com\nSubject: added\n"},
        {"a field named like it is not it", "Subjects: no\nX-Subject: no\n\n", "Subject: s",
         "Subjects: no\nX-Subject: no\nSubject: s\n\n"},
        {"only the first of two", "Subject: one\nSubject: two\n\n", "Subject: s", "Subject: s\nSubject: two\n\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplaceSubjectField(c.message, c.field), c.expected) << c.name;
}

}  // namespace
}  // namespace vexa::maildir
