// The five tests that decide which steps a file of the list goes through. A file may pass
// several; each passed test runs its step, in this order.
#pragma once

#include <string>
#include <string_view>

namespace mailvane::run {

struct FileTests {
  bool contact = false;   // path holds "Contacts", name ends ".meta"
  bool calendar = false;  // path holds "/Calendar/", name ends ".appt.meta"
  bool task = false;      // path holds "/Tasks/", name ends ".task.meta"
  bool note = false;      // path holds "/Notebook", name ends ".wiki.meta"
  bool message = false;   // name ends "eml"
  bool Any() const { return contact || calendar || task || note || message; }
};

// Path searches are case-sensitive; name endings are compared lower-cased.
FileTests TestFile(std::string_view path);

// Whether the file at path is a record that goes with the file beside it: an appointment or
// a task with its data file, a message's record with the message.
bool TakesDataFile(std::string_view path);

// The path the tests and the message routing look at: the file's folders with Zimbra's
// "!N" split endings removed ("/x/Inbox!3/a.eml" gives "/x/Inbox/a.eml"). The file itself is
// still read from its real path.
std::string LogicalPath(std::string_view path);

// Whether the last characters of text, lower-cased, are ending (ending is lower case).
bool EndsWithLower(std::string_view text, std::string_view ending);

}  // namespace mailvane::run
