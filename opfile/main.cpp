#include "bit_file_session.h"
#include "command_line.h"
#include "console_device.h"
#include "file_system.h"
#include "text_console.h"

int main(int argc, char** argv) {
  auto device = op::MakePlatformConsole();
  auto files = op::MakePlatformFileSystem();
  op::TextConsole console(*device);
  console.Open();
  const int status = op::BitFileSession(console, *files, op::CommandTail(argc, argv));
  console.Close();
  return status;
}
