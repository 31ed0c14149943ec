// The texts a run shows: status line, caption, message boxes. They are the product's own
// words and are compared exactly by the tests and by people's habits, so they live here once.
#pragma once

namespace mailvane::run {

inline constexpr const char* kApplicationTitle = "Larkwell Mailvane";
inline constexpr const char* kWindowCaption = "Larkwell Mailvane v4.3";
inline constexpr const char* kVersion = "4.3";

inline constexpr const char* kChooseTargetTitle = "Choose Folder to Save...";
inline constexpr const char* kChooseSourceTitle = "Choose Source Folder...";
inline constexpr const char* kQueuedSuffix = " Messages Queued for Conversion.";

inline constexpr const char* kSessionCreated = "Outlook Session Created...";
inline constexpr const char* kReadingFolders = "Reading Zimbra Folder(s)...";
inline constexpr const char* kReadingFolderPrefix = "Reading Zimbra Folder... ";
inline constexpr const char* kCreatingFolders = "Creating Outlook Folders...";
inline constexpr const char* kCreatingFolderPrefix = "Creating Outlook Folders... ";
inline constexpr const char* kConvertingMessagesPrefix = "Converting Messages... from (";

inline constexpr const char* kCompletionTitle = "Mailvane";
inline constexpr const char* kCompletionText =
    "Zimbra Messages Converted Successfully.\r\nOpen Outlook to view converted PST file.";

inline constexpr const char* kNothingConvertedText = "No Zimbra item was converted.";

// The set-up failed: the box keeps its title and first line; the cause and what to do
// follow (no Outlook is involved here).
inline constexpr const char* kSessionErrorTitle = "Outlook Error";
inline constexpr const char* kSessionErrorText = "Outlook Session Creation Error !";
inline constexpr const char* kSessionErrorCausePrefix = "Cause : ";
inline constexpr const char* kNotStartedPrefix = "Conversion not started: ";

}  // namespace mailvane::run
