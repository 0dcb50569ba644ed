// ceiling_main.cpp -- scores-ceiling: the score server's connections answering every request
// at once with a constant "stored", no store behind them. What it serves a second is the most
// the server could, on this machine, now; bench/server_load.sh runs it beside the real one.
#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "http_server.h"

int main(int argc, char** argv) {
  // Port 0 takes any free port. Only the address is taken from quorvane-scores' options.
  std::string host = "127.0.0.1";
  int port = 0;
  if (argc == 3 && std::string(argv[1]) == "--listen") {
    std::string listen = argv[2];
    std::size_t colon = listen.rfind(':');
    host = listen.substr(0, colon);
    port = colon == std::string::npos ? 0 : std::atoi(listen.c_str() + colon + 1);
  } else if (argc != 1) {
    std::cerr << "Usage: scores-ceiling [--listen HOST:PORT]\n";
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  scores::HttpServer server;
  port = server.Bind(host, port);
  if (port == 0) {
    std::cerr << "scores-ceiling: cannot listen on " << host << std::endl;
    return 1;
  }
  // The same line as quorvane-scores, so that the same scripts find the port.
  std::cout << "scores-ceiling: listening on " << host << ":" << port << " (constant answer)"
            << std::endl;
  scores::Response stored;
  stored.content_type = "text/plain; charset=utf-8";
  stored.body = "stored\n";
  return server.Run(
             [&stored](const scores::Request&, scores::Answer answer) { answer.Send(stored); })
             ? 0
             : 1;
}
