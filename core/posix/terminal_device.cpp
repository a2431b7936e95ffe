// The console on a POSIX terminal: keys read raw from /dev/tty, cells drawn with VT sequences.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "../code_page.h"
#include "../console_device.h"
#include "../utf8.h"
#include "key_decoder.h"
#include "locale_text.h"
#include "pending_file.h"

namespace op {
namespace {

// What the terminal gets back at the end: its colours, a visible cursor.
constexpr std::string_view kRestore = "\x1b[0m\x1b[?25h";
// Ignored: they would leave the terminal raw, or kill a run before a failed write is reported.
constexpr int kIgnoredSignals[] = {SIGINT, SIGQUIT, SIGTSTP, SIGPIPE, SIGXFSZ};
constexpr std::size_t kFlushAt = 8 * 1024;  // so that a long echo flows
constexpr std::chrono::milliseconds kReplyWait{300};  // a terminal answers at once, or never
constexpr int kSequenceWaitMs = 50;  // a gap this long ends a key's sequence (a lone ESC)

// What the signal handlers need, and nothing else: they can reach no object.
struct SignalRecord {
  int outFd = -1;  // -1: no terminal to draw on, output is dropped
  int ttyFd = -1;  // -1: no keyboard
  termios saved{}, raw{};
  volatile sig_atomic_t rawOn = 0;
  std::string_view restore = kRestore;  // kRestore, or its tail without colours
  volatile sig_atomic_t resized = 1;  // the size must be read again
  volatile sig_atomic_t moved = 0;    // the cursor must be asked for again
};
SignalRecord gTerminal;

void EnterRawMode() {
  termios& raw = gTerminal.raw;
  raw = gTerminal.saved;
  // INLCR and IGNCR too: either would turn Enter into something else.
  raw.c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON | INLCR | IGNCR);
  raw.c_oflag &= ~OPOST;
  raw.c_cflag |= CS8;
  raw.c_lflag &= ~(ECHO | ICANON | IEXTEN | ISIG);  // Ctrl+C arrives as 3
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  gTerminal.rawOn = 1;
  // TCSANOW, not TCSAFLUSH: keys typed ahead are kept.
  if (tcsetattr(gTerminal.ttyFd, TCSANOW, &raw) != 0) gTerminal.rawOn = 0;
}

void LeaveRawMode() {
  if (gTerminal.rawOn) tcsetattr(gTerminal.ttyFd, TCSANOW, &gTerminal.saved);
  gTerminal.rawOn = 0;
}

// A fatal signal: terminal back, half-made OpSymbs.inc gone, death by it. Async-signal-safe only.
void OnEndSignal(int number) {
  const int savedErrno = errno;
  const std::string_view restore = gTerminal.restore;
  [[maybe_unused]] const ssize_t sent = write(gTerminal.outFd, restore.data(), restore.size());
  if (gTerminal.rawOn) tcsetattr(gTerminal.ttyFd, TCSANOW, &gTerminal.saved);
  RemovePendingFile();
  signal(number, SIG_DFL);
  raise(number);  // delivered as soon as the handler returns
  errno = savedErrno;
}

void OnResize(int) {
  gTerminal.resized = 1;
  gTerminal.moved = 1;
}

// After a stop, raw again only in the foreground: in the background the shell keeps the terminal.
void OnContinue(int) {
  if (gTerminal.rawOn && tcgetpgrp(gTerminal.ttyFd) == getpgrp()) {
    tcsetattr(gTerminal.ttyFd, TCSANOW, &gTerminal.raw);
  }
  OnResize(0);
}

using SignalActions = struct sigaction[NSIG];

void Catch(int number, void (*handler)(int)) {
  struct sigaction action {};
  sigfillset(&action.sa_mask);  // one handler at a time
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigaction(number, &action, nullptr);
}

void InstallSignals(SignalActions& old) {
  for (int number = 1; number < NSIG; ++number) {
    sigaction(number, nullptr, &old[number]);
    switch (number) {  // the signals whose default action does not end the process
      case SIGCHLD: case SIGURG: case SIGWINCH: case SIGCONT:
      case SIGKILL: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU:
        continue;
    }
    // One the caller chose to ignore (nohup) stays ignored.
    if (old[number].sa_handler != SIG_IGN) Catch(number, OnEndSignal);
  }
  for (const int number : kIgnoredSignals) Catch(number, SIG_IGN);
  Catch(SIGWINCH, OnResize);
  Catch(SIGCONT, OnContinue);
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A terminal left non-blocking by another program: wait, never drop.
      pollfd ready{fd, POLLOUT, 0};
      poll(&ready, 1, -1);
    } else if (written == 0 || errno != EINTR) {
      return;  // the terminal is gone; what is left is dropped
    }
  }
}

// Console colours are bit sets (blue 1, green 2, red 4, bright 8); ANSI swaps red and blue.
int AnsiColour(int colour, int base) {
  const int index = ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2);
  return index + ((colour & 8) ? base + 60 : base);
}

// A control byte would be obeyed, not shown; one outside Windows-1252 may be wide or glyphless.
char32_t Glyph(char32_t c) {
  if (c < 0x20) return 0x2400 + c;  // control pictures: ␀ .. ␟
  if (c == 0x7F) return 0x2421;     // ␡
  if (c >= 0x80 && c <= 0x9F) return U'?';
  return c == U'?' || ToCodePage({&c, 1}) != "?" ? c : U'?';
}

class TerminalDevice : public ConsoleDevice {
 public:
  ~TerminalDevice() override { Close(); }

  void Open() override {
    if (open_) return;
    gTerminal.ttyFd = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (gTerminal.ttyFd >= 0 && tcgetattr(gTerminal.ttyFd, &gTerminal.saved) != 0) {
      close(gTerminal.ttyFd);
      gTerminal.ttyFd = -1;
    }
    // Stdout or stderr if a terminal, else /dev/tty, so with both redirected no one answers blind.
    gTerminal.outFd = isatty(STDOUT_FILENO)   ? STDOUT_FILENO
                      : isatty(STDERR_FILENO) ? STDERR_FILENO
                                              : gTerminal.ttyFd;
    const char* term = std::getenv("TERM");
    const char* noColour = std::getenv("NO_COLOR");
    mayQuery_ = term == nullptr || std::string_view(term) != "dumb";
    colours_ = mayQuery_ && (noColour == nullptr || *noColour == '\0');
    gTerminal.restore = colours_ ? kRestore : kRestore.substr(4);
    gTerminal.resized = 1;
    inputClosed_ = gTerminal.ttyFd < 0;
    queriesPending_ = 0;
    in_.clear();
    open_ = true;
    InstallSignals(oldActions_);
    if (gTerminal.ttyFd >= 0) EnterRawMode();

    out_ = gTerminal.restore;
    sgr_ = -1;
    cursorVisible_ = true;
    const std::optional<Position> start = QueryCursor();
    // A scroll region left set would stop a line feed scrolling the screen. The reset moves home.
    out_ += "\x1b[r";
    at_.reset();
    if (start) {
      cursor_ = *start;
    } else {  // a fresh bottom row is the one place that surely overwrites nothing
      LineFeedAtBottom();
      cursor_ = {Size().height, 1};
    }
    Show();
  }

  void Close() override {
    if (!open_) return;
    Show();  // the shell's prompt appears where the program's text left off
    out_ += gTerminal.restore;
    Flush();
    LeaveRawMode();
    for (int number = 1; number < NSIG; ++number) sigaction(number, &oldActions_[number], nullptr);
    if (gTerminal.outFd == gTerminal.ttyFd) gTerminal.outFd = -1;
    if (gTerminal.ttyFd >= 0) close(gTerminal.ttyFd);
    gTerminal.ttyFd = -1;
    inputClosed_ = true;
    open_ = false;
  }

  GridSize Size() override {
    if (gTerminal.resized) [[unlikely]] {
      gTerminal.resized = 0;  // first, so that a resize during the read is not lost
      size_ = {};             // 80x24 unless the terminal says otherwise
      winsize ws{};
      const int fd = gTerminal.outFd >= 0 ? gTerminal.outFd : gTerminal.ttyFd;
      if (fd >= 0 && ioctl(fd, TIOCGWINSZ, &ws) == 0) {
        if (ws.ws_col > 0) size_.width = ws.ws_col;
        if (ws.ws_row > 0) size_.height = ws.ws_row;
      }
      at_.reset();  // a terminal may rewrap its rows when resized
    }
    return size_;
  }

  Position Cursor() override {
    const GridSize size = Size();
    return {std::clamp(cursor_.row, 1, size.height), std::clamp(cursor_.column, 1, size.width)};
  }

  // Only recorded: the terminal's cursor follows at the next key wait.
  void SetCursor(Position at) override { cursor_ = at; }

  void PutCells(Position at, std::span<const Cell> cells) override {
    const GridSize size = Size();
    if (at.row < 1 || at.row > size.height || at.column < 1 || at.column > size.width) return;
    const auto room = static_cast<std::size_t>(size.width - at.column + 1);
    cells = cells.first(std::min(cells.size(), room));
    MoveTo(at);
    for (const Cell& cell : cells) {
      SetColours(cell.colours);
      if (cell.character >= 0x20 && cell.character < 0x7F) {
        out_ += static_cast<char>(cell.character);
      } else {
        locale_text::Append(out_, Glyph(cell.character));
      }
    }
    // After the last column terminals wrap each their own way: the next run is moved to.
    at.column += static_cast<int>(cells.size());
    at_ = at.column <= size.width ? std::optional(at) : std::nullopt;
    if (out_.size() > kFlushAt) Flush();
  }

  void ScrollUp(ColourPair blank) override {
    SetColours(blank);  // first: the row brought in takes the colours in effect
    LineFeedAtBottom();
    if (out_.size() > kFlushAt) Flush();
  }

  void SetTextColours(ColourPair colours) override { SetColours(colours); }
  bool CursorVisible() override { return cursorVisible_; }

  void SetCursorVisible(bool visible) override {
    cursorVisible_ = visible;
    out_ += visible ? "\x1b[?25h" : "\x1b[?25l";
  }

  KeyEvent NextKey() override {
    for (;;) {
      if (gTerminal.moved) RereadCursor();
      Show();
      // An answer to a query that timed out is no key.
      while (queriesPending_ > 0 && TakeCursorReport()) {}
      if (!in_.empty()) {
        DecodedKey key = DecodeKey(in_, false);
        if (key.consumed == 0) {
          if (ReadInput(kSequenceWaitMs)) continue;
          key = DecodeKey(in_, true);
        }
        in_.erase(0, std::max<std::size_t>(key.consumed, 1));
        return key.event;
      }
      // No keyboard at all answers Enter; one that went away, Closed.
      if (inputClosed_ && gTerminal.ttyFd < 0) return {KeyEvent::Kind::Character, 13};
      if (inputClosed_) return {KeyEvent::Kind::Closed};
      ReadInput(-1);
    }
  }

  void Beep() override {
    out_ += '\a';  // the bell itself: the one control byte we send
    Show();
  }

 private:
  void Flush() {
    if (gTerminal.outFd >= 0) WriteAll(gTerminal.outFd, out_);
    out_.clear();
  }

  void Show() {
    MoveTo(Cursor());
    Flush();
  }

  void MoveTo(Position to) {
    if (at_ == to) return;
    if (at_ && at_->row == to.row && to.column == 1) {
      out_ += '\r';  // what each row of a long echo needs: the shortest move
    } else {
      out_ += "\x1b[" + std::to_string(to.row) + ';' + std::to_string(to.column) + 'H';
    }
    at_ = to;
  }

  // Starts from a reset, so that no attribute of others lingers.
  void SetColours(ColourPair colours) {
    if (!colours_ || sgr_ == colours) return;
    out_ += "\x1b[0;" + std::to_string(AnsiColour(colours & 15, 30)) + ';' +
            std::to_string(AnsiColour(colours >> 4, 40)) + 'm';
    sgr_ = colours;
  }

  // On the bottom row a line feed scrolls into the scrollback; OPOST is off, so the column stays.
  void LineFeedAtBottom() {
    const int bottom = Size().height;
    if (!at_ || at_->row != bottom) MoveTo({bottom, 1});
    out_ += '\n';
  }

  // Waits up to `timeoutMs` (-1: for ever) for keys, added to the input as UTF-8. False when none
  // came, a signal ended the wait, or the keyboard has gone for good (inputClosed_).
  bool ReadInput(int timeoutMs) {
    if (gTerminal.ttyFd < 0 || inputClosed_) return false;
    pollfd ready{gTerminal.ttyFd, POLLIN, 0};
    const int count = poll(&ready, 1, timeoutMs);
    if (count == 0 || (count < 0 && (errno == EINTR || errno == EAGAIN))) return false;
    char chunk[4096];
    ssize_t got = 0;
    if (count > 0 && !(ready.revents & POLLNVAL)) got = read(gTerminal.ttyFd, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (got <= 0) {  // end of file, or EIO after a hangup
      inputClosed_ = true;
      return false;
    }
    const std::string_view bytes(chunk, static_cast<std::size_t>(got));
    if (locale_text::IsUtf8()) {
      in_ += bytes;
    } else {
      for (const char byte : bytes) AppendUtf8(in_, locale_text::FromByte(byte & 0xFF));
    }
    return true;
  }

  // Takes ESC [ row ; col R out of the input, keys typed around it kept.
  std::optional<Position> TakeCursorReport() {
    for (std::size_t start = in_.find("\x1b["); start != std::string::npos;
         start = in_.find("\x1b[", start + 1)) {
      Position at;
      int length = 0;
      std::sscanf(in_.c_str() + start, "\x1b[%5d;%5dR%n", &at.row, &at.column, &length);
      if (length == 0) continue;
      in_.erase(start, static_cast<std::size_t>(length));
      --queriesPending_;
      return at;
    }
    return std::nullopt;
  }

  // Asks the terminal where its cursor is; one that never answers must not hang us.
  std::optional<Position> QueryCursor() {
    if (gTerminal.outFd < 0 || gTerminal.ttyFd < 0 || !mayQuery_) return std::nullopt;
    out_ += "\x1b[6n";
    Flush();
    ++queriesPending_;
    const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
    for (;;) {
      if (const std::optional<Position> at = TakeCursorReport()) return at;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || (!ReadInput(static_cast<int>(left)) && inputClosed_)) return std::nullopt;
    }
  }

  // After a resize or a stop the rows may have moved: the cursor is asked for.
  void RereadCursor() {
    gTerminal.moved = 0;
    gTerminal.resized = 1;
    const GridSize told = Size();
    const std::optional<Position> at = QueryCursor();
    if (!at) return;
    // Mid-resize the answer may be for a size not told yet: it is the truer.
    size_ = {std::max(told.width, at->column), std::max(told.height, at->row)};
    cursor_ = *at;
  }

  bool open_ = false;
  bool colours_ = true;       // false for NO_COLOR and a dumb terminal
  bool mayQuery_ = true;      // a dumb terminal is not asked where its cursor is
  bool inputClosed_ = true;
  int queriesPending_ = 0;    // cursor queries whose answers have not come
  GridSize size_;
  Position cursor_;           // where TextConsole put the cursor
  std::optional<Position> at_;  // the terminal's own cursor; unknown when it may differ
  int sgr_ = -1;  // the colour pair in effect; -1 when unknown
  bool cursorVisible_ = true;
  std::string out_;
  std::string in_;  // keys as UTF-8, not yet decoded
  SignalActions oldActions_{};
};

}  // namespace

std::unique_ptr<ConsoleDevice> MakePlatformConsole() {
  return std::make_unique<TerminalDevice>();
}

}  // namespace op
