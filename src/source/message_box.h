// The kinds of a message box: its icon, its buttons and the answer a person gave.
#pragma once

namespace mailvane::source {

enum class MessageBoxIcon { kNone, kInformation, kWarning, kCritical, kQuestion };
enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxAnswer { kOk, kYes, kNo };

}  // namespace mailvane::source
