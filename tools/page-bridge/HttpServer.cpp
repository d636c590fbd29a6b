#include "page-bridge/HttpServer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>

namespace pagebridge {
namespace {

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    default: return "Error";
  }
}

bool SendAll(SOCKET connection, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int chunk = static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 20));
    int n = send(connection, bytes.data() + sent, chunk, 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool Send(SOCKET connection, const HttpResponse& response, bool keepAlive) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) +
                     "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + std::to_string(response.body.size()) +
                     "\r\nCache-Control: no-store\r\nConnection: " + (keepAlive ? "keep-alive" : "close") + "\r\n\r\n";
  return SendAll(connection, head + response.body);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

struct ConnectionStart {
  HttpServer* server;
  SOCKET connection;
};

}  // namespace

bool ParseRequestHead(const std::string& head, HttpRequest& request) {
  size_t lineEnd = head.find("\r\n");
  std::string line = head.substr(0, lineEnd);
  size_t first = line.find(' ');
  size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
  if (second == std::string::npos || line.compare(second + 1, 7, "HTTP/1.") != 0) return false;
  request.method = line.substr(0, first);
  std::string target = line.substr(first + 1, second - first - 1);
  if (target.empty() || target[0] != '/') return false;
  size_t question = target.find('?');
  request.path = target.substr(0, question);
  request.query = question == std::string::npos ? "" : target.substr(question + 1);
  while (lineEnd != std::string::npos) {
    size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    std::string header = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    size_t colon = header.find(':');
    if (colon == std::string::npos || colon == 0) {
      if (Trim(header).empty()) continue;
      return false;
    }
    request.headers[Lower(Trim(header.substr(0, colon)))] = Trim(header.substr(colon + 1));
  }
  return true;
}

bool HttpServer::Start(unsigned short port, HttpHandler* handler) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  handler_ = handler;
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  int length = sizeof(address);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, SOMAXCONN) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return false;
  }
  port_ = ntohs(address.sin_port);
  HANDLE thread = CreateThread(nullptr, 0, AcceptThreadFunc, this, 0, nullptr);
  if (!thread) return false;
  CloseHandle(thread);
  return true;
}

DWORD WINAPI HttpServer::AcceptThreadFunc(void* parameter) {
  auto* server = static_cast<HttpServer*>(parameter);
  for (;;) {
    SOCKET connection = accept(server->listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
      Sleep(10);
      continue;
    }
    auto* start = new ConnectionStart{server, connection};
    HANDLE thread = CreateThread(nullptr, 0, ConnectionThreadFunc, start, 0, nullptr);
    if (thread) {
      CloseHandle(thread);
    } else {
      closesocket(connection);
      delete start;
    }
  }
}

DWORD WINAPI HttpServer::ConnectionThreadFunc(void* parameter) {
  auto* start = static_cast<ConnectionStart*>(parameter);
  start->server->Serve(start->connection);
  closesocket(start->connection);
  delete start;
  return 0;
}

void HttpServer::Serve(SOCKET connection) {
  std::string buffer;
  char chunk[16384];
  for (;;) {
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHeadBytes) {
        HttpResponse tooLarge{413, "text/plain; charset=utf-8", "request head too large"};
        Send(connection, tooLarge, false);
        return;
      }
      int n = recv(connection, chunk, sizeof(chunk), 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    HttpRequest request;
    if (!ParseRequestHead(buffer.substr(0, headEnd + 2), request)) {
      Send(connection, HttpResponse{400, "text/plain; charset=utf-8", "bad request"}, false);
      return;
    }
    buffer.erase(0, headEnd + 4);
    size_t bodyLength = 0;
    auto length = request.headers.find("content-length");
    if (length != request.headers.end()) {
      char* end = nullptr;
      unsigned long long value = strtoull(length->second.c_str(), &end, 10);
      if (length->second.empty() || *end || value > kMaxBodyBytes) {
        Send(connection, HttpResponse{413, "text/plain; charset=utf-8", "request body too large"}, false);
        return;
      }
      bodyLength = static_cast<size_t>(value);
    } else if (request.headers.count("transfer-encoding")) {
      Send(connection, HttpResponse{400, "text/plain; charset=utf-8", "chunked bodies are not taken"}, false);
      return;
    }
    while (buffer.size() < bodyLength) {
      int n = recv(connection, chunk, sizeof(chunk), 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    request.body = buffer.substr(0, bodyLength);
    buffer.erase(0, bodyLength);
    bool keepAlive = Lower(request.headers["connection"]) != "close";
    if (!Send(connection, handler_->Handle(request), keepAlive) || !keepAlive) return;
  }
}

}  // namespace pagebridge
