#include "adapters/smtp/upstream/upstream_reply.h"

#include <algorithm>
#include <cctype>

namespace vexa::smtp {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "5.7.8 " at the start of a reply line's text: the enhanced code (RFC 3463), else empty.
std::string_view EnhancedCode(std::string_view text) {
    std::size_t pos = 0;
    for (int part = 0; part < 3; ++part) {
        const std::size_t start = pos;
        while (pos < text.size() && IsDigit(text[pos])) ++pos;
        if (pos == start || pos - start > 3) return {};
        if (part < 2) {
            if (pos >= text.size() || text[pos] != '.') return {};
            ++pos;
        }
    }
    if (pos < text.size() && text[pos] != ' ') return {};
    if (!(text[0] == '2' || text[0] == '4' || text[0] == '5')) return {};
    return text.substr(0, pos);
}

Reply Own(int code, const char* enhanced, std::string text) { return Reply{code, enhanced, std::move(text)}; }

std::string Said(const std::string& detail) { return detail.empty() ? std::string() : " (" + detail + ")"; }

}  // namespace

void ReplyTranscript::Received(std::string_view lines) {
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        std::string_view line = lines.substr(0, end);
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) Line(line);
    }
}

void ReplyTranscript::Sent(std::string_view command) {
    if (quitting_) return;
    if (command.size() == 4 && std::equal(command.begin(), command.end(), "QUIT", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        })) {
        quitting_ = true;
        return;
    }
    answered_ = false;
}

void ReplyTranscript::Line(std::string_view line) {
    if (quitting_) return;
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return;
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    const bool more = line.size() > 3 && line[3] == '-';
    std::string_view text = line.size() > 4 ? line.substr(4) : std::string_view();
    if (!inReply_) building_ = Reply{code, {}, {}};
    const std::string_view enhanced = EnhancedCode(text);
    if (!enhanced.empty()) {
        if (building_.enhanced.empty()) building_.enhanced = std::string(enhanced);
        text.remove_prefix(std::min(text.size(), enhanced.size() + 1));
    }
    if (inReply_) building_.text += '\n';
    building_.text += text;
    inReply_ = more;
    if (more) return;
    if (code == 235) saw235_ = true;
    if (code == 354) saw354_ = true;
    last_ = building_;
    answered_ = true;
}

bool ReplyTranscript::Saw(int code) const {
    if (code == 235) return saw235_;
    if (code == 354) return saw354_;
    return last_ && last_->code == code;
}

Reply FailureReply(UpstreamFailure failure, const ReplyTranscript& transcript, const std::string& detail) {
    const auto& last = transcript.Last();
    const bool refusal = last && transcript.Answered() && last->code >= 400;
    switch (failure) {
    case UpstreamFailure::Certificate:
        return Own(554, "5.7.0", "The upstream server's certificate is not to be trusted, so nothing was sent to it" + Said(detail));
    case UpstreamFailure::NoTls:
        return Own(554, "5.7.0", "The upstream server offers no STARTTLS, and mail is not sent to it in the clear");
    case UpstreamFailure::LoginDenied:
        if (refusal) return *last;
        return Own(535, "5.7.8", "The upstream server refused the login" + Said(detail));
    case UpstreamFailure::Refused:
        if (refusal) return *last;
        return Own(451, "4.4.2", "The upstream server broke off the conversation" + Said(detail));
    case UpstreamFailure::Broken:
        // A server that says 421 and hangs up has said why.
        if (refusal) return *last;
        return Own(451, "4.4.2", "The connection to the upstream server broke" + Said(detail));
    case UpstreamFailure::Unreachable:
        break;
    }
    return Own(451, "4.4.1", "The upstream server cannot be reached" + Said(detail));
}

}  // namespace vexa::smtp
