#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the page bridge: one thread accepts, one thread per
// connection reads requests one after another (keep-alive) and hands each to the handler, which
// may take as long as it needs (a long poll, a call waiting for the user-interface thread).
#include <winsock2.h>

#include <map>
#include <string>

namespace pagebridge {

struct HttpRequest {
  std::string method;
  std::string path;   // as sent, without the query
  std::string query;  // after "?", empty without one
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
};

class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  // Called on a connection's thread, any number at once.
  virtual HttpResponse Handle(const HttpRequest& request) = 0;
};

// Largest request head and body taken; larger requests are answered 413 and the connection
// closed.
constexpr size_t kMaxHeadBytes = 64 * 1024;
constexpr size_t kMaxBodyBytes = 8 * 1024 * 1024;

class HttpServer {
 public:
  // Listens on 127.0.0.1:port (0 picks a free one); false when the port cannot be had.
  bool Start(unsigned short port, HttpHandler* handler);
  unsigned short Port() const { return port_; }

 private:
  static DWORD WINAPI AcceptThreadFunc(void* parameter);
  static DWORD WINAPI ConnectionThreadFunc(void* parameter);
  void Serve(SOCKET connection);

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  HttpHandler* handler_ = nullptr;
};

// Splits one request head (everything before the blank line); false when it is not HTTP/1.x.
bool ParseRequestHead(const std::string& head, HttpRequest& request);

}  // namespace pagebridge
