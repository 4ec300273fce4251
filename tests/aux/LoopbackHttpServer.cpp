#include "aux/LoopbackHttpServer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace morvex::test {
namespace {

constexpr const char* kServerScript = R"(
import http.server, os, ssl, sys
root, cert = sys.argv[1], sys.argv[2]
class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=os.path.join(root, 'www'), **kwargs)
    def do_GET(self):
        with open(os.path.join(root, 'requests.log'), 'a') as log:
            log.write(self.headers.get('User-Agent', '') + ' ' + self.path + '\n')
        if self.path.startswith('/app.php/'):
            self.send_response(200)
            self.send_header('Content-Length', '2')
            self.end_headers()
            self.wfile.write(b'ok')
            return
        local = os.path.join(root, 'www', self.path.lstrip('/'))
        if os.path.isfile(local + '.truncated'):
            body = open(local + '.truncated', 'rb').read()
            self.send_response(200)
            self.send_header('Content-Length', str(len(body) * 2 + 100))
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
            self.close_connection = True
            return
        super().do_GET()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
if cert:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert + '.pem', cert + '.key')
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
)";

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(bool https) : https_(https) {
  std::filesystem::create_directories(dir_ / "www");
  WriteFile(dir_ / "server.py", kServerScript);
  WriteFile(dir_ / "requests.log", "");
  std::string cert;
  if (https_) {
    cert = dir_ / "cert";
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                             "-addext subjectAltName=IP:127.0.0.1 -keyout '" + cert + ".key' -out '" + cert +
                             ".pem' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    caFile_ = cert + ".pem";
  }
  const std::string portFile = dir_ / "port";
  int out[2];
  if (::pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string script = dir_ / "server.py";
  std::vector<char*> argv{const_cast<char*>("python3"), const_cast<char*>(script.c_str()),
                          const_cast<char*>(dir_.Path().c_str()), const_cast<char*>(cert.c_str()), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawnp(&child, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return;
  }
  pid_ = child;
  // The first line the server prints is its port, once it listens.
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);
  port_ = std::atoi(line.c_str());
}

LoopbackHttpServer::~LoopbackHttpServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string LoopbackHttpServer::Authority() const { return "127.0.0.1:" + std::to_string(port_); }

std::string LoopbackHttpServer::Origin() const { return (https_ ? "https://" : "http://") + Authority(); }

void LoopbackHttpServer::Put(const std::string& name, const std::string& content) const {
  WriteFile(dir_ / ("www/" + name), content);
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
  std::vector<std::string> requests;
  std::istringstream lines(ReadFile(dir_ / "requests.log"));
  for (std::string line; std::getline(lines, line);) requests.push_back(line);
  return requests;
}

}  // namespace morvex::test
