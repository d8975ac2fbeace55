// The listener over real sockets on 127.0.0.1: a message through, the server stopping while a
// message is on its way, connections over the limit, and who owns a loopback peer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "adapters/smtp/server/peer_owner.h"
#include "adapters/smtp/server/smtp_listener.h"
#include "adapters/smtp/server/unique_fd.h"
#include "host/host_error.h"

namespace vexa::smtp {
namespace {

struct Deliveries : ConnectionHandlerFactory {
    struct Handler : ConnectionHandler {
        explicit Handler(Deliveries& d) : owner(d) {}
        Reply Authenticate(const Credentials& credentials) override {
            if (credentials.password != "secret") return {535, "5.7.8", "Authentication credentials invalid"};
            const std::lock_guard lock(owner.mutex);
            owner.logins.push_back(credentials.user);
            return {235, "2.7.0", "Authentication successful"};
        }
        Reply Deliver(const Envelope&, std::string message) override {
            const std::lock_guard lock(owner.mutex);
            owner.messages.push_back(std::move(message));
            return {250, "2.0.0", "Relayed"};
        }
        Deliveries& owner;
    };
    std::unique_ptr<ConnectionHandler> Accept(const std::string&) override { return std::make_unique<Handler>(*this); }
    std::vector<std::string> Messages() {
        const std::lock_guard lock(mutex);
        return messages;
    }
    std::mutex mutex;
    std::vector<std::string> messages;
    std::vector<std::string> logins;
};

UniqueFd Connect(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{10, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    EXPECT_EQ(0, ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    return fd;
}

// A mail program: sends lines, reads the code of each final reply line.
struct Client {
    explicit Client(int port) : fd(Connect(port)) {}
    void Send(const std::string& text) { ::send(fd.Get(), text.data(), text.size(), MSG_NOSIGNAL); }
    int Code() {
        while (true) {
            const auto end = pending.find("\r\n");
            if (end != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (line.size() >= 4 && line[3] == ' ') return std::stoi(line.substr(0, 3));
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
            if (n <= 0) return 0;  // closed
            pending.append(buffer, static_cast<std::size_t>(n));
        }
    }
    UniqueFd fd;
    std::string pending;
};

int PortOf(const SmtpListener& listener) {
    const std::string address = listener.Address();
    return std::stoi(address.substr(address.rfind(':') + 1));
}

ListenerOptions Loopback() {
    ListenerOptions options;
    options.port = "0";
    options.limits.maxConnections = 2;
    return options;
}

TEST(SmtpListener, MessageThroughAndStopMidMessage) {
    Deliveries deliveries;
    SmtpListener listener(Loopback(), deliveries);
    std::thread run([&] { listener.Run(); });
    const int port = PortOf(listener);

    // A connection of this process's own user on loopback sends without logging in.
    Client sender(port);
    EXPECT_EQ(220, sender.Code());
    sender.Send("EHLO c\r\nMAIL FROM:<a@example.org>\r\nRCPT TO:<b@example.net>\r\nDATA\r\n");
    EXPECT_EQ(250, sender.Code());
    EXPECT_EQ(250, sender.Code());
    EXPECT_EQ(250, sender.Code());
    EXPECT_EQ(354, sender.Code());
    sender.Send("Subject: one\r\n\r\nbody\r\n.\r\n");
    EXPECT_EQ(250, sender.Code());

    Client idle(port);
    EXPECT_EQ(220, idle.Code());
    Client third(port);
    EXPECT_EQ(421, third.Code());  // over maxConnections

    sender.Send("MAIL FROM:<a@example.org>\r\nRCPT TO:<b@example.net>\r\nDATA\r\n");
    for (int expected : {250, 250, 354}) EXPECT_EQ(expected, sender.Code());
    sender.Send("Subject: two\r\n");
    listener.Stop();
    EXPECT_EQ(421, idle.Code());  // idle connections are closed at once
    sender.Send("\r\nstill arriving\r\n.\r\nNOOP\r\n");
    EXPECT_EQ(250, sender.Code());  // the message in progress is answered
    EXPECT_EQ(421, sender.Code());  // and nothing after it
    run.join();
    EXPECT_EQ((std::vector<std::string>{"Subject: one\r\n\r\nbody\r\n", "Subject: two\r\n\r\nstill arriving\r\n"}),
              deliveries.Messages());
}

TEST(SmtpListener, RefusesToListenOffLoopbackWithoutTls) {
    Deliveries deliveries;
    ListenerOptions options = Loopback();
    options.host = "0.0.0.0";
    EXPECT_THROW(SmtpListener(options, deliveries), HostError);
}

// A throw-away folder with a self-signed certificate and its key, made by openssl.
struct Certificate {
    Certificate() {
        folder = std::filesystem::temp_directory_path() / ("vexa-smtp-tls-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " +
                                    (folder / "key.pem").string() + " -out " + (folder / "cert.pem").string() +
                                    " >/dev/null 2>&1";
        made = std::system(command.c_str()) == 0;
    }
    ~Certificate() { std::filesystem::remove_all(folder); }
    std::filesystem::path folder;
    bool made = false;
};

// Python's smtplib, as a mail program: STARTTLS, login, a message, each refusing on any error.
TEST(SmtpListener, StartTlsThenLoginThenMessage) {
    const Certificate certificate;
    if (!certificate.made) GTEST_SKIP() << "openssl could not make a certificate";
    Deliveries deliveries;
    ListenerOptions options = Loopback();
    options.certificate = certificate.folder / "cert.pem";
    options.key = certificate.folder / "key.pem";
    SmtpListener listener(options, deliveries);
    std::thread run([&] { listener.Run(); });
    const std::string script =
        "import smtplib, ssl, sys\n"
        "c = ssl.create_default_context(); c.check_hostname = False; c.verify_mode = ssl.CERT_NONE\n"
        "s = smtplib.SMTP('127.0.0.1', int(sys.argv[1]), timeout=20)\n"
        "s.ehlo(); assert s.has_extn('starttls') and not s.has_extn('dsn')\n"
        "s.starttls(context=c); s.ehlo(); s.login('fax', 'secret')\n"
        "s.sendmail('a@example.org', ['b@example.net'], b'Subject: tls\\r\\n\\r\\nover TLS\\r\\n'); s.quit()\n";
    const std::string command = "python3 -c \"" + script + "\" " + std::to_string(PortOf(listener));
    EXPECT_EQ(0, std::system(command.c_str()));
    listener.Stop();
    run.join();
    EXPECT_EQ(std::vector<std::string>{"fax"}, deliveries.logins);
    EXPECT_EQ(std::vector<std::string>{"Subject: tls\r\n\r\nover TLS\r\n"}, deliveries.Messages());
}

bool CanRunAsNobody() {
    return ::geteuid() == 0 && ::getpwnam("nobody") != nullptr && std::system("command -v setpriv >/dev/null") == 0;
}

std::string AsNobody(const std::string& shell) {
    const passwd* nobody = ::getpwnam("nobody");
    return "setpriv --reuid=" + std::to_string(nobody->pw_uid) + " --regid=" + std::to_string(nobody->pw_gid) +
           " --clear-groups bash -c '" + shell + "'";
}

// Another user on the same machine must log in before the relay sends anything for them.
TEST(SmtpListener, AnotherLocalUserMustLogIn) {
    if (!CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to connect as another user";
    Deliveries deliveries;
    SmtpListener listener(Loopback(), deliveries);
    std::thread run([&] { listener.Run(); });
    const std::string dialogue = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(PortOf(listener)) +
                                 "; printf \"EHLO c\\r\\nMAIL FROM:<a@b>\\r\\nQUIT\\r\\n\" >&3; timeout 10 cat <&3";
    std::string output;
    if (FILE* pipe = ::popen(AsNobody(dialogue).c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        ::pclose(pipe);
    }
    listener.Stop();
    run.join();
    EXPECT_NE(std::string::npos, output.find("\r\n530 5.7.0 ")) << output;
    EXPECT_NE(std::string::npos, output.find("\r\n221 ")) << output;
}

// Another user may hold half the connections at most: the rest stay for this user's mail programs.
TEST(SmtpListener, AnotherLocalUserGetsHalfTheConnections) {
    if (!CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to connect as another user";
    Deliveries deliveries;
    SmtpListener listener(Loopback(), deliveries);  // two connections
    std::thread run([&] { listener.Run(); });
    const std::string address = "/dev/tcp/127.0.0.1/" + std::to_string(PortOf(listener));
    // The first one's greeting means it holds its slot before the second one asks.
    const std::string dialogue = "exec 3<>" + address + "; read -t 10 greeting <&3; echo \"$greeting\"; exec 4<>" +
                                 address + "; timeout 10 cat <&4; printf \"QUIT\\r\\n\" >&3; timeout 10 cat <&3";
    std::string output;
    if (FILE* pipe = ::popen(AsNobody(dialogue).c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        ::pclose(pipe);
    }
    const UniqueFd ours = Connect(PortOf(listener));
    char greeting[4] = {};
    EXPECT_EQ(3, ::recv(ours.Get(), greeting, 3, MSG_WAITALL));
    listener.Stop();
    run.join();
    EXPECT_EQ(0u, output.find("220 ")) << output;
    EXPECT_NE(std::string::npos, output.find("\n421 4.7.0 ")) << output;
    EXPECT_NE(std::string::npos, output.find("\r\n221 ")) << output;
    EXPECT_EQ(std::string("220"), greeting);
}

// The owner of a loopback peer's socket: this process's user, or another one started by setpriv.
TEST(PeerOwner, TellsOurOwnUserFromAnother) {
    UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(server.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(server.Get(), 4));
    socklen_t length = sizeof address;
    ::getsockname(server.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);

    const UniqueFd ours = Connect(port);
    UniqueFd accepted(::accept(server.Get(), nullptr, nullptr));
    EXPECT_TRUE(PeerIsLoopback(accepted.Get()));
    EXPECT_EQ(std::optional<uid_t>(::geteuid()), LoopbackPeerOwner(accepted.Get()));

    if (!CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to connect as another user";
    const std::string command = AsNobody("exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port) + "; timeout 10 cat <&3 >/dev/null") + " &";
    ASSERT_EQ(0, std::system(command.c_str()));
    pollfd ready{server.Get(), POLLIN, 0};
    ASSERT_EQ(1, ::poll(&ready, 1, 10000));
    UniqueFd theirs(::accept(server.Get(), nullptr, nullptr));
    EXPECT_EQ(std::optional<uid_t>(::getpwnam("nobody")->pw_uid), LoopbackPeerOwner(theirs.Get()));
}

}  // namespace
}  // namespace vexa::smtp
