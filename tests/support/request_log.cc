#include "support/request_log.h"

#include <fstream>

#include "rapidjson/document.h"

namespace k5test {

std::optional<std::string> LoggedRequest::Header(const std::string& lower_name) const {
  for (const auto& [name, value] : headers) {
    if (name == lower_name) return value;
  }
  return std::nullopt;
}

std::vector<LoggedRequest> ReadRequestLog(const std::string& path) {
  std::vector<LoggedRequest> requests;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    rapidjson::Document entry;
    entry.Parse(line.c_str());
    // The sandbox may be writing the last line while it is read.
    if (entry.HasParseError() || !entry.IsObject() || !entry.HasMember("event") ||
        std::string(entry["event"].GetString()) != "request") {
      continue;
    }
    LoggedRequest request{entry["env"].GetString(), entry["method"].GetString(),
                          entry["target"].GetString(), entry["body"].GetString(),
                          entry["port"].GetInt(), {}};
    for (const auto& header : entry["headers"].GetObject()) {
      std::string name = header.name.GetString();
      for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      request.headers.emplace_back(std::move(name), header.value.GetString());
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

}  // namespace k5test
