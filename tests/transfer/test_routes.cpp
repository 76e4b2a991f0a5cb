// The routes the downloader tests share, and small file helpers.
#include "transfer/test_routes.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace velmora::transfer::testing {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::set<int> EstablishedClientPorts(int port) {
  std::set<int> clients;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    unsigned slot = 0, localAddress = 0, localPort = 0, remoteAddress = 0, remotePort = 0, state = 0;
    if (std::sscanf(line.c_str(), " %u: %X:%X %X:%X %X", &slot, &localAddress, &localPort, &remoteAddress,
                    &remotePort, &state) == 6 &&
        static_cast<int>(localPort) == port && state == 1 /* established */) {
      clients.insert(static_cast<int>(remotePort));
    }
  }
  return clients;
}

void AddRoutes(TestServer& server) {
  httplib::Server& routes = server.Routes();
  routes.Get("/hello.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("hello, velmora", "application/octet-stream");
  });
  routes.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("", "application/octet-stream");
  });
  routes.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such file here", "text/plain");
  });
  routes.Get(R"(/r/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const int left = std::stoi(req.matches[1]);
    if (left == 0) {
      res.set_content("arrived", "application/octet-stream");
    } else {
      res.set_redirect("/r/" + std::to_string(left - 1));
    }
  });
  routes.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("file:///etc/hostname");
  });
  routes.Get("/dir/sub/file.bin", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("nested", "application/octet-stream");
  });
  routes.Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(256 * 1024, 'b'), "application/octet-stream");
  });
  routes.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream",
                                     [](std::size_t offset, httplib::DataSink& sink) {
                                       if (offset < 3000) {
                                         sink.write(std::string(1000, 'c').data(), 1000);
                                       } else {
                                         sink.done();
                                       }
                                       return true;
                                     });
  });
  // Announces 1000 bytes, sends 100 and closes the connection.
  routes.Get("/drop", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "application/octet-stream",
                             [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset != 0) return false;
                               return sink.write(std::string(100, 'd').data(), 100);
                             });
  });
  // Announces 1000 bytes, sends 10, then nothing until released (at most 60 s).
  routes.Get("/stall", [&server](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "application/octet-stream",
                             [&server](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset == 0) return sink.write("0123456789", 10);
                               server.WaitForRelease(60);
                               return false;
                             });
  });
  // Announces 3000 bytes and sends them at 500 bytes per second.
  routes.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(3000, "application/octet-stream",
                             [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset != 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
                               return sink.write(std::string(100, 't').data(), 100);
                             });
  });
  // Numbered files for batches: "/f/7" holds "file 7".
  routes.Get(R"(/f/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content("file " + req.matches[1].str(), "application/octet-stream");
  });
  // Answers 304 when either validator matches what it sends; "/ignoring"
  // never looks at them.
  routes.Get(R"(/(validated|ignoring))", [](const httplib::Request& req, httplib::Response& res) {
    const bool honours = req.matches[1] == "validated";
    if (honours &&
        (req.get_header_value("If-None-Match") == kEtag || req.get_header_value("If-Modified-Since") == kLastModified)) {
      res.status = 304;
      return;
    }
    res.set_header("ETag", kEtag);
    res.set_header("Last-Modified", kLastModified);
    res.set_content("validated body", "application/octet-stream");
  });
}

}  // namespace velmora::transfer::testing
