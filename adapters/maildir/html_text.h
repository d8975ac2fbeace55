// A plain-text rendition of an HTML body, for messages that come without a text/plain part:
// the archive reads reference numbers and tracking tags out of the body as text.
// Called by the mail items' Body().
#pragma once

#include <string>
#include <string_view>

namespace vexa::maildir {

// Drops tags (and the content of head, script and style), collapses white space as a browser
// does, turns <br>, <p>, </p>, <div>, </div>, <tr> and <li> into line breaks and decodes the
// common named entities and numeric ones. `html` and the result are UTF-8.
std::string HtmlToPlainText(std::string_view html);

}  // namespace vexa::maildir
