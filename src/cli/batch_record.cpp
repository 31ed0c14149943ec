#include "cli/batch_record.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace mailvane::cli {

using nlohmann::json;

namespace {

const char* Kind(int k) { return run::ItemKindName(static_cast<run::ItemKind>(k)); }

// RFC 4180: quoted when it holds a comma, a quote or a line break; quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// Tenths, with a point whatever the locale says.
std::string Seconds(double seconds) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, seconds,
                                       std::chars_format::fixed, 1);
  return ec == std::errc() ? std::string(text, end) : "0.0";
}

}  // namespace

std::string RecordJsonLine(const MailboxRecord& r) {
  json j = {{"line", r.line},       {"mailbox", r.source}, {"pst", r.pst},
            {"report", r.report}};
  for (int k = 0; k < run::kItemKindCount; ++k) j[Kind(k)] = r.items[static_cast<std::size_t>(k)];
  j["failed_files"] = r.files_failed;
  j["lost_files"] = r.files_lost;
  j["not_reached_files"] = r.files_not_reached;
  j["bytes_in"] = r.bytes_in;
  j["bytes_out"] = r.bytes_out;
  j["seconds"] = std::round(r.seconds * 10) / 10;
  j["exit_status"] = r.exit_status;
  j["status"] = r.status;
  j["error"] = r.error;
  j["name"] = r.name;
  j["position"] = r.position;
  if (!r.host.empty()) {
    j["host"] = r.host;
    j["pid"] = r.pid;
  }
  // Paths are bytes from the file system: what is not UTF-8 is replaced rather than lost.
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

MailboxRecord RecordFromJson(std::string_view line) {
  try {
    const json j = json::parse(line);
    MailboxRecord r;
    r.line = j.at("line").get<int>();
    r.position = j.at("position").get<int>();
    r.source = j.at("mailbox").get<std::string>();
    r.name = j.at("name").get<std::string>();
    r.pst = j.at("pst").get<std::string>();
    r.report = j.at("report").get<std::string>();
    for (int k = 0; k < run::kItemKindCount; ++k) {
      r.items[static_cast<std::size_t>(k)] = j.at(Kind(k)).get<std::size_t>();
    }
    r.files_failed = j.at("failed_files").get<std::size_t>();
    // Absent from the state files of earlier versions.
    r.files_lost = j.value("lost_files", std::size_t{0});
    r.files_not_reached = j.value("not_reached_files", std::size_t{0});
    r.bytes_in = j.at("bytes_in").get<std::uint64_t>();
    r.bytes_out = j.at("bytes_out").get<std::uint64_t>();
    r.seconds = j.at("seconds").get<double>();
    r.exit_status = j.at("exit_status").get<int>();
    r.status = j.at("status").get<std::string>();
    r.error = j.at("error").get<std::string>();
    r.host = j.value("host", "");
    r.pid = j.value("pid", 0L);
    return r;
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("not a mailbox record: ") + e.what());
  }
}

std::string SummaryCsvHeader() {
  std::string header = "line,mailbox,pst";
  for (int k = 0; k < run::kItemKindCount; ++k) header += std::string(",") + Kind(k);
  return header + ",failed_files,lost_files,not_reached_files,bytes_in,bytes_out,seconds,"
                  "exit_status,status,error\r\n";
}

std::string SummaryCsvRow(const MailboxRecord& r) {
  std::string row = std::to_string(r.line) + "," + CsvField(r.source) + "," + CsvField(r.pst);
  for (std::size_t n : r.items) row += "," + std::to_string(n);
  return row + "," + std::to_string(r.files_failed) + "," + std::to_string(r.files_lost) + "," +
         std::to_string(r.files_not_reached) + "," + std::to_string(r.bytes_in) + "," +
         std::to_string(r.bytes_out) + "," + Seconds(r.seconds) + "," +
         std::to_string(r.exit_status) + "," + CsvField(r.status) + "," + CsvField(r.error) +
         "\r\n";
}

}  // namespace mailvane::cli
