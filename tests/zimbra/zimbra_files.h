// Appointment and task data files the way a Zimbra export holds them: a multipart/digest
// of invites, CRLF line ends.
#pragma once

#include <string>
#include <vector>

namespace mailvane::zimbra::testing {

struct MimeAttachment {
  std::string headers;  // Content-Type, Content-Disposition, ... lines without CRLF ends
  std::string body;     // as transferred (base64 text, or plain)
};

inline std::string Crlf(const std::string& lf_text) {
  std::string out;
  for (char c : lf_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The invite's own body: text, HTML and the iCalendar part (named, as Zimbra names it).
inline std::string InviteBody() {
  return "------=_Part_31\n"
         "Content-Type: text/plain; charset=utf-8\n\n"
         "Bring the Q2 figures.\n"
         "------=_Part_31\n"
         "Content-Type: text/html; charset=utf-8\n\n"
         "<html><body><div>Bring the Q2 figures.</div></body></html>\n"
         "------=_Part_31\n"
         "Content-Type: text/calendar; charset=utf-8; method=PUBLISH; name=meeting.ics\n"
         "Content-Transfer-Encoding: 8bit\n\n"
         "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nSUMMARY:Lunch with Anna\n"
         "DTSTART;TZID=\"Europe/Berlin\":20130412T120000\nEND:VEVENT\nEND:VCALENDAR\n"
         "------=_Part_31--\n";
}

// A data file as Zimbra writes one: a multipart/digest whose one part is the invite.
inline std::string DataFile(const std::vector<MimeAttachment>& attachments,
                            const std::string& subject_line = "Subject: Lunch with Anna") {
  std::string invite = "Date: Thu, 11 Apr 2013 16:20:00 +0200 (CEST)\n"
                       "From: Olga Owner <owner@example.com>\n" +
                       subject_line + "\nMIME-Version: 1.0\n";
  if (attachments.empty()) {
    invite += "Content-Type: multipart/alternative; \n\tboundary=\"----=_Part_31\"\n\n" +
              InviteBody();
  } else {
    invite += "Content-Type: multipart/mixed; \n\tboundary=\"----=_Part_30\"\n\n"
              "------=_Part_30\n"
              "Content-Type: multipart/alternative; \n\tboundary=\"----=_Part_31\"\n\n" +
              InviteBody() + "\n";
    for (const auto& a : attachments) {
      invite += "------=_Part_30\n" + a.headers + "\n\n" + a.body + "\n";
    }
    invite += "------=_Part_30--\n";
  }
  return Crlf("Message-ID: <1822471046.37.1365690000123.JavaMail.zimbra@mail.example.com>\n"
              "MIME-Version: 1.0\n"
              "Content-Type: multipart/digest; \n\tboundary=\"----=_Part_36\"\n\n"
              "------=_Part_36\n"
              "Content-Type: message/rfc822\n"
              "invId: 300\n\n" +
              invite + "\n------=_Part_36--\n");
}

}  // namespace mailvane::zimbra::testing
