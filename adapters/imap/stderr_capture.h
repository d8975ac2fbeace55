// What a library writes to standard error while one of its calls runs, taken instead of shown:
// libetpan reports a failed TLS handshake with GnuTLS's own "GnuTLS error: ..." line there, which
// would stand on the user's terminal beside the message of our own that says what to do. The
// text is kept and goes into that message instead.
#pragma once

#include <string>
#include <string_view>

namespace vexa::imap {

class StderrCapture {
public:
    StderrCapture();   // from now on, descriptor 2 writes into a file in memory
    ~StderrCapture();  // descriptor 2 as before; what was written is shown after all
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Ends the capture: the lines that start with `prefix` are taken (the text after it of the
    // last one is returned, "" when none came), every other line goes on to standard error.
    std::string Take(std::string_view prefix);

private:
    void Restore() noexcept;
    int saved_ = -1;     // the real standard error, while captured
    int captured_ = -1;  // the file in memory
};

}  // namespace vexa::imap
