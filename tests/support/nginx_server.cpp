#include "support/nginx_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "support/loopback.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kPortAttempts = 5;

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool HasExited(pid_t pid) {
    // WNOWAIT leaves the child a zombie, so its pid and process group stay ours.
    siginfo_t info{};
    return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Undoes nginx's escape=json: \" \\ \n \r \t \b \f and \u00XX.
std::string UnescapeJson(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        char c = text[++i];
        switch (c) {
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'u':
                if (i + 4 < text.size()) {
                    const std::string hex = text.substr(i + 1, 4);
                    out.push_back(static_cast<char>(std::strtol(hex.c_str(), nullptr, 16)));
                    i += 4;
                }
                break;
            default:
                out.push_back(c);
                break;
        }
    }
    return out;
}

uint64_t ToNumber(const std::string& text) {
    return text.empty() ? 0 : std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

NginxServer::NginxServer(fs::path docRoot) : m_docRoot(std::move(docRoot)) {}

NginxServer::~NginxServer() {
    Stop();
}

std::string NginxServer::BaseUrl() const {
    return (m_certFile.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") +
           std::to_string(m_port) + "/";
}

void NginxServer::UseTls(fs::path certFile, fs::path keyFile) {
    m_certFile = std::move(certFile);
    m_keyFile = std::move(keyFile);
}

std::string NginxServer::WriteConfig() {
    const std::string p = m_prefix.Path().string();
    std::ostringstream conf;
    conf << "daemon off;\n"
         << "master_process on;\n"
         << "worker_processes 1;\n";
    // Workers would otherwise switch to nobody and might not read the test's files.
    if (geteuid() == 0) {
        conf << "user root;\n";
    }
    conf << "pid " << Quote(p + "/nginx.pid") << ";\n"
         << "lock_file " << Quote(p + "/nginx.lock") << ";\n"
         << "error_log " << Quote(p + "/error.log") << " info;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "    default_type application/octet-stream;\n"
         << "    log_format qb escape=json '"
         << "$request_method\t$request_uri\t$status\t$http_range\t$http_user_agent\t"
         << "$http_cache_control\t$http_pragma\t$http_accept_encoding\t$bytes_sent\t"
         << "$body_bytes_sent\t$connection\t$connection_requests\t$request_completion\t"
         << "$server_protocol';\n"
         << "    access_log " << Quote(p + "/access.log") << " qb;\n"
         << "    client_body_temp_path " << Quote(p + "/client_body_temp") << ";\n"
         << "    proxy_temp_path " << Quote(p + "/proxy_temp") << ";\n"
         << "    fastcgi_temp_path " << Quote(p + "/fastcgi_temp") << ";\n"
         << "    uwsgi_temp_path " << Quote(p + "/uwsgi_temp") << ";\n"
         << "    scgi_temp_path " << Quote(p + "/scgi_temp") << ";\n"
         << "    sendfile on;\n"
         << "    tcp_nopush on;\n"
         << "    keepalive_timeout 65;\n"
         << "    gzip off;\n"
         << "    server {\n"
         << "        listen 127.0.0.1:" << m_port << (m_certFile.empty() ? "" : " ssl http2")
         << ";\n";
    if (!m_certFile.empty()) {
        conf << "        ssl_certificate " << Quote(m_certFile.string()) << ";\n"
             << "        ssl_certificate_key " << Quote(m_keyFile.string()) << ";\n";
    }
    conf << "        server_name localhost;\n"
         << "        root " << Quote(m_docRoot.string()) << ";\n"
         << "        location / { }\n"
         << m_serverLines << "    }\n"
         << "}\n";
    return m_prefix.Write("nginx.conf", conf.str()).string();
}

bool NginxServer::Start() {
    if (m_pid > 0) {
        return true;
    }
    m_failure.clear();
    const char* env = std::getenv("QB_NGINX");
    const std::string binary = (env && *env) ? env : "/usr/sbin/nginx";
    if (access(binary.c_str(), X_OK) != 0) {
        m_failure = "nginx binary not usable: " + binary + ": " + std::strerror(errno) +
                    " (install the nginx package or set QB_NGINX)";
    } else {
        for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
            // A restart keeps its port when it can, like a real server coming back.
            if (attempt > 0 || m_port == 0) {
                m_port = PickFreeLoopbackPort();
            }
            Launch result = LaunchOnce(binary);
            if (result == Launch::Ready) {
                return true;
            }
            if (result == Launch::Failed) {
                break;
            }
            m_failure = "port " + std::to_string(m_port) + " was taken";
        }
    }
    ADD_FAILURE() << "NginxServer failed to start\n" << ErrorLog();
    return false;
}

NginxServer::Launch NginxServer::LaunchOnce(const std::string& binary) {
    const fs::path& prefix = m_prefix.Path();
    for (const char* name : {"nginx.pid", "error.log", "stderr.log"}) {
        std::error_code ec;
        fs::remove(prefix / name, ec);
    }
    const std::string conf = WriteConfig();
    const std::string prefixArg = prefix.string() + "/";
    const std::string errorLog = (prefix / "error.log").string();
    const std::string stderrLog = (prefix / "stderr.log").string();
    std::vector<std::string> args = {binary, "-p", prefixArg, "-c", conf, "-e", errorLog};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        m_failure = std::string("fork: ") + std::strerror(errno);
        return Launch::Failed;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec: the parent has other threads.
        setpgid(0, 0);
        // A crashed test must not leave nginx behind; SIGTERM lets the master stop its worker.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(126);
        }
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) {
            sigaction(sig, &dfl, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int in = open("/dev/null", O_RDONLY);
        int out = open(stderrLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) {
            _exit(126);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        // Inherited sockets of other test servers would keep their ports open.
        close_range(3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    m_pid = pid;

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    const fs::path pidFile = prefix / "nginx.pid";
    while (std::chrono::steady_clock::now() < deadline) {
        const bool exited = HasExited(m_pid);
        // nginx retries a taken port for a few seconds before it gives up; no need to wait.
        if (ReadFileBytes(prefix / "error.log").find("Address already in use") !=
            std::string::npos) {
            Kill();
            return Launch::PortTaken;
        }
        if (exited) {
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_pid = -1;
            m_failure = "nginx exited during start-up (status " + std::to_string(status) + ")";
            return Launch::Failed;
        }
        // The pid file is written after the listening socket is bound, so a connection that
        // succeeds from then on reaches this nginx and not some other owner of the port.
        const std::string written = ReadFileBytes(pidFile);
        if (!written.empty() && written.back() == '\n' &&
            std::strtol(written.c_str(), nullptr, 10) == m_pid && CanConnectLoopback(m_port, 500)) {
            return Launch::Ready;
        }
        SleepMs(10);
    }
    Kill();
    m_failure =
        "nginx did not accept connections within " + std::to_string(kStartTimeoutMs) + " ms";
    return Launch::Failed;
}

void NginxServer::Kill() {
    if (m_pid <= 0) {
        return;
    }
    // SIGTERM is nginx's fast shutdown: the master stops its worker, then exits.
    kill(m_pid, SIGTERM);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
    while (!HasExited(m_pid) && std::chrono::steady_clock::now() < deadline) {
        SleepMs(5);
    }
    // Sweeps a stuck master or a worker left over; the group still exists while the master
    // is an unreaped zombie.
    kill(-m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

void NginxServer::Stop() {
    Kill();
}

std::string NginxServer::ErrorLog() const {
    std::string text = m_failure;
    const std::string log = ReadFileBytes(m_prefix.Path() / "error.log");
    const std::string err = ReadFileBytes(m_prefix.Path() / "stderr.log");
    if (!log.empty()) {
        text += "\n--- error.log ---\n" + log;
    }
    if (!err.empty()) {
        text += "\n--- stderr ---\n" + err;
    }
    return text;
}

std::vector<NginxRequest> NginxServer::Requests() const {
    std::vector<NginxRequest> requests;
    std::istringstream in(ReadFileBytes(m_prefix.Path() / "access.log"));
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) {
            break;  // no newline yet: nginx is still writing this line
        }
        std::vector<std::string> f;
        size_t start = 0;
        while (true) {
            size_t tab = line.find('\t', start);
            f.push_back(UnescapeJson(line.substr(start, tab - start)));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        if (f.size() != 14) {
            continue;
        }
        NginxRequest r;
        r.method = f[0];
        r.uri = f[1];
        r.status = static_cast<int>(ToNumber(f[2]));
        r.range = f[3];
        r.userAgent = f[4];
        r.cacheControl = f[5];
        r.pragma = f[6];
        r.acceptEncoding = f[7];
        r.bytesSent = ToNumber(f[8]);
        r.bodyBytesSent = ToNumber(f[9]);
        r.connection = ToNumber(f[10]);
        r.connectionRequests = ToNumber(f[11]);
        r.completed = f[12] == "OK";
        r.protocol = f[13];
        requests.push_back(std::move(r));
    }
    return requests;
}

std::vector<NginxRequest> NginxServer::WaitForRequests(size_t count, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<NginxRequest> requests = Requests();
    while (requests.size() < count && std::chrono::steady_clock::now() < deadline) {
        SleepMs(5);
        requests = Requests();
    }
    return requests;
}
