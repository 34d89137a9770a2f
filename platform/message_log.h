// Unattended hosts: when HYL_MESSAGE_LOG names a file, every message box,
// screen line and alarm beep is appended to it instead of being shown, one
// entry a line tagged "box", "line" or "beep".  Texts stay in Windows-1251;
// a line feed inside a text is written as \n and a backslash as \\.
#pragma once

namespace hyl {

// The log file's name, or null when messages are shown as usual.
const char* message_log_path();
// Appends one entry; text is null for a beep.  False when the file cannot be written.
bool message_log_append(const char* tag, const char* text);

}  // namespace hyl
