#include "clipboard.h"
#include "clipboard_session.h"
#include "console_device.h"
#include "file_system.h"
#include "text_console.h"

// The command line is ignored.
int main() {
  auto device = op::MakePlatformConsole();
  auto files = op::MakePlatformFileSystem();
  op::TextConsole console(*device);
  console.Open();
  const int status = op::ClipboardSession(console, *files, op::ReadClipboardText);
  console.Close();
  return status;
}
