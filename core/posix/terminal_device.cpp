// The console on a POSIX terminal: keys read raw from /dev/tty, cells drawn
// with VT sequences on whichever standard stream is a terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../console_device.h"
#include "key_decoder.h"
#include "../utf8.h"
#include "locale_text.h"
#include "pending_file.h"
#include "vt_text.h"

namespace op {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What the terminal gets back at the end: the default colours (only where
// colours were sent) and a visible cursor.
constexpr std::string_view kRestore = "\x1b[0m\x1b[?25h";
constexpr std::string_view kRestoreWithoutColours = "\x1b[?25h";
// Signals that would leave the terminal raw under the shell, or end the
// program where a failed write should be reported instead.
constexpr int kIgnoredSignals[] = {SIGINT, SIGQUIT, SIGTSTP, SIGPIPE, SIGXFSZ};
// Output goes to the terminal in pieces this size: small enough that the
// terminal reads one piece while the next is being made, large enough that
// the system calls stay few.
constexpr std::size_t kFlushAt = 8 * 1024;
// A terminal answers a cursor query at once; one that does not answer
// within this time never will.
constexpr int kReplyWaitMs = 300;
// The bytes of one key's sequence arrive together; a gap this long means
// the sequence ended (a lone ESC is the Escape key).
constexpr int kSequenceWaitMs = 50;

// One terminal per process. The signal handlers read it, so it lives here
// rather than in the device object.
struct TerminalState {
  int outFd = -1;  // -1: no terminal to draw on, output is dropped
  int ttyFd = -1;  // -1: no keyboard
  termios saved{};
  termios raw{};
  volatile sig_atomic_t rawOn = 0;
  std::string_view restore = kRestore;
  // NO_COLOR set, or a dumb terminal: text and placement only.
  bool colours = true;
  // A dumb terminal is not asked where its cursor is.
  bool mayQuery = true;
  // Cursor position queries sent whose answers have not come yet.
  int queriesPending = 0;
  bool open = false;
  bool inputClosed = true;  // until Open finds a keyboard
  bool hadKeyboard = false;  // Open found one: a closed input means it was lost
  Position cursor;
  // Where the terminal's own cursor stands, so a move is sent only when the
  // next cell is not where the last one left it; unknown after a resize.
  Position terminalAt;
  bool terminalAtKnown = false;
  // The last write filled the row's last column: the terminal holds its
  // cursor there and wraps only when the next character comes, so any
  // character must be preceded by a move.
  bool wrapPending = false;
  // The bottom row as a scroll left it: blank from `blankFrom` to the right
  // edge in the background of `blankColours`. 0: no row known blank.
  int blankRow = 0;
  int blankFrom = 1;
  ColourPair blankColours = 0;
  GridSize size;
  bool sizeKnown = false;
  bool cursorVisible = true;
  int sgr = -1;  // the colour pair in effect; -1 when unknown
  std::string output;
  std::string input;
  std::array<struct sigaction, NSIG> oldActions{};
};

TerminalState g;
volatile sig_atomic_t gResized = 1;
// A resize or a stop and continue: the terminal may have moved the cursor.
volatile sig_atomic_t gMoved = 0;

// Standard output or error if one is the terminal; otherwise the terminal
// itself, so a run with both redirected is not answered blind.
int ChooseOutputFd() {
  if (isatty(STDOUT_FILENO)) return STDOUT_FILENO;
  if (isatty(STDERR_FILENO)) return STDERR_FILENO;
  return g.ttyFd;
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// ---- raw mode ------------------------------------------------------------

bool EnterRawMode() {
  termios& raw = g.raw;
  raw = g.saved;
  // INLCR and IGNCR too: either would turn Enter into something else.
  raw.c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON | INLCR | IGNCR);
  raw.c_oflag &= ~OPOST;
  raw.c_cflag |= CS8;
  raw.c_lflag &= ~(ECHO | ICANON | IEXTEN | ISIG);  // Ctrl+C arrives as 3
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g.rawOn = 1;
  // TCSANOW, not TCSAFLUSH: keys typed ahead are kept.
  if (tcsetattr(g.ttyFd, TCSANOW, &raw) != 0) {
    g.rawOn = 0;
    return false;
  }
  return true;
}

void LeaveRawMode() {
  if (!g.rawOn) return;
  tcsetattr(g.ttyFd, TCSANOW, &g.saved);
  g.rawOn = 0;
}

// ---- signals -------------------------------------------------------------

// A signal that ends the program: give the terminal back, remove the half
// made OpSymbs.inc, then die of the signal as if it had never been caught.
// Async-signal-safe calls only.
void OnEndSignal(int number) {
  const int savedErrno = errno;
  if (g.outFd >= 0 && write(g.outFd, g.restore.data(), g.restore.size()) < 0) {
    // Nothing to be done: the terminal may be gone.
  }
  if (g.rawOn) tcsetattr(g.ttyFd, TCSANOW, &g.saved);
  RemovePendingFile();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(number, &fallback, nullptr);
  raise(number);  // delivered as soon as the handler returns
  errno = savedErrno;
}

void OnResize(int) {
  gResized = 1;
  gMoved = 1;
}

// Continued after a stop: the shell has put the terminal back in its own
// modes meanwhile, and may have written on it. Raw mode is taken again only
// in the foreground; continued in the background, the shell keeps the
// terminal until `fg` continues the program once more.
void OnContinue(int) {
  if (g.rawOn && tcgetpgrp(g.ttyFd) == getpgrp()) tcsetattr(g.ttyFd, TCSANOW, &g.raw);
  gResized = 1;
  gMoved = 1;
}

// Every signal whose default action ends the process.
template <typename Each>
void ForEachEndingSignal(Each each) {
  for (const int number : {SIGHUP, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
                           SIGPOLL, SIGSYS, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV,
#ifdef SIGSTKFLT
                           SIGSTKFLT,
#endif
#ifdef SIGPWR
                           SIGPWR,
#endif
                       }) {
    each(number);
  }
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) each(number);
}

void Catch(int number, void (*handler)(int), bool keepIgnored) {
  struct sigaction action {};
  sigfillset(&action.sa_mask);  // one handler at a time
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigaction(number, nullptr, &g.oldActions[number]);
  // A signal the caller chose to ignore (nohup) stays ignored.
  if (keepIgnored && g.oldActions[number].sa_handler == SIG_IGN) return;
  sigaction(number, &action, nullptr);
}

void InstallSignals() {
  for (const int number : kIgnoredSignals) Catch(number, SIG_IGN, false);
  ForEachEndingSignal([](int number) { Catch(number, OnEndSignal, true); });
  Catch(SIGWINCH, OnResize, false);
  Catch(SIGCONT, OnContinue, false);
}

void RestoreSignals() {
  auto restore = [](int number) { sigaction(number, &g.oldActions[number], nullptr); };
  for (const int number : kIgnoredSignals) restore(number);
  ForEachEndingSignal(restore);
  restore(SIGWINCH);
  restore(SIGCONT);
}

// ---- output --------------------------------------------------------------

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written > 0) {
      data += written;
      size -= static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A terminal left non-blocking by another program: wait, never drop.
      pollfd ready{fd, POLLOUT, 0};
      poll(&ready, 1, -1);
    } else {
      return;  // the terminal is gone; what is left is dropped
    }
  }
}

void Flush() {
  if (g.outFd >= 0 && !g.output.empty()) {
    WriteAll(g.outFd, g.output.data(), g.output.size());
  }
  g.output.clear();
}

void FlushIfLarge() {
  if (g.output.size() > kFlushAt) Flush();
}

GridSize ReadSize() {
  GridSize size;  // 80x24 unless the terminal says otherwise
  winsize ws{};
  const int fd = g.outFd >= 0 ? g.outFd : g.ttyFd;
  if (fd >= 0 && ioctl(fd, TIOCGWINSZ, &ws) == 0) {
    if (ws.ws_col > 0) size.width = ws.ws_col;
    if (ws.ws_row > 0) size.height = ws.ws_row;
  }
  return size;
}

void RereadSize() {
  gResized = 0;  // cleared first, so a resize during the read is not lost
  g.size = ReadSize();
  g.terminalAtKnown = false;
  g.blankRow = 0;  // a terminal may rewrap its rows when resized
  g.sizeKnown = true;
}

// Cached: TextConsole asks for every text it places.
GridSize CurrentSize() {
  if (!g.sizeKnown || gResized) [[unlikely]] RereadSize();
  return g.size;
}

Position Clamp(Position at, GridSize size) {
  return {std::clamp(at.row, 1, size.height),
          std::clamp(at.column, 1, size.width)};
}

void SetSgr(ColourPair colours) {
  if (g.sgr == colours || !g.colours) return;
  g.output += vt::Sgr(colours).View();
  g.sgr = colours;
}

// The move of the terminal's cursor to `at`, empty when it is there.
// Moves within a row are spelled short, as every echoed row needs one.
// Every move is absolute, so a terminal that puts the cursor elsewhere
// than expected (a line feed that also returns) is set right again.
vt::Sequence SpellMove(Position at) {
  if (g.terminalAtKnown && !g.wrapPending && g.terminalAt == at) return {};
  if (g.terminalAtKnown && g.terminalAt.row == at.row) {
    if (at.column == 1) return {{'\r'}, 1};
    return vt::ColumnMove(at.column);
  }
  return vt::CursorMove(at);
}

void MoveTerminalCursor(Position at) {
  g.output += SpellMove(at).View();
  g.terminalAt = at;
  g.terminalAtKnown = true;
  g.wrapPending = false;
}

// A line feed on the bottom row scrolls the whole screen, and the row that
// leaves the top goes into the terminal's scrollback. OPOST is off, so
// "\n" is a pure line feed and the column stays where it was. The row it
// brings in is blank in the background in effect, just as an erase would
// make it.
void ScrollScreen() {
  const int bottom = CurrentSize().height;
  // Off the bottom row, or waiting to wrap (a carriage return ends that).
  if (!g.terminalAtKnown || g.terminalAt.row != bottom || g.wrapPending) {
    MoveTerminalCursor({bottom, 1});
  }
  g.output += '\n';
  // After a reset the background is the terminal's own, not one of ours.
  g.blankRow = g.sgr >= 0 ? bottom : 0;
  g.blankFrom = 1;
  g.blankColours = static_cast<ColourPair>(g.sgr);
}

// A space shows nothing but its background: leading spaces that fall on
// cells a scroll left blank in the same background need not be sent, when
// moving past them is shorter than sending them. Takes them off the run and
// moves `at` past them; `isSpace` tells a space of the run in `colours`.
template <typename Run, typename IsSpace>
void SkipBlankLead(Position& at, Run& run, ColourPair colours, IsSpace isSpace) {
  if (at.row != g.blankRow || at.column < g.blankFrom) return;
  if ((colours >> 4) != (g.blankColours >> 4)) return;
  std::size_t spaces = 0;
  while (spaces < run.size() && isSpace(run[spaces])) ++spaces;
  if (spaces == 0) return;
  if (spaces < run.size()) {  // else nothing is left to send at all
    const std::size_t skippedTo = SpellMove({at.row, at.column + static_cast<int>(spaces)}).size;
    if (skippedTo >= SpellMove(at).size + spaces) return;
  }
  run = run.subspan(spaces);
  at.column += static_cast<int>(spaces);
}

// Clips a run to the grid's row; false when nothing of it is on the grid.
template <typename Run>
bool ClipToRow(Position& at, Run& run, GridSize size) {
  if (at.row < 1 || at.row > size.height || at.column > size.width) return false;
  if (at.column < 1) {
    const auto hidden = static_cast<std::size_t>(1 - at.column);
    if (hidden >= run.size()) return false;
    run = run.subspan(hidden);
    at.column = 1;
  }
  const auto room = static_cast<std::size_t>(size.width - at.column + 1);
  run = run.first(std::min(run.size(), room));
  return !run.empty();
}

// Where the terminal's cursor stands after `count` cells were written from
// `at`, and what of the bottom row is still blank.
void NoteWritten(Position at, std::size_t count, GridSize size) {
  if (at.row == g.blankRow) {
    g.blankFrom = std::max(g.blankFrom, at.column + static_cast<int>(count));
  }
  g.terminalAt.column += static_cast<int>(count);
  if (g.terminalAt.column > size.width) {
    g.terminalAt.column = size.width;
    g.wrapPending = true;
  }
  FlushIfLarge();
}

// Shows the cursor where TextConsole put it, then sends everything.
void Present() {
  g.cursor = Clamp(g.cursor, CurrentSize());
  MoveTerminalCursor(g.cursor);
  Flush();
}

// ---- input ---------------------------------------------------------------

// The key decoder reads UTF-8; an 8-bit terminal's characters are turned
// into it as they come.
void AddInput(std::string_view bytes) {
  if (locale_text::IsUtf8()) {
    g.input.append(bytes);
    return;
  }
  for (const char byte : bytes) {
    AppendUtf8(g.input, locale_text::FromByte(static_cast<unsigned char>(byte)));
  }
}

// Waits up to `timeoutMs` (-1: for ever) for bytes from the keyboard and
// adds them to the input. False when none came in time or the keyboard has
// gone away for good (then inputClosed is set).
bool ReadInput(int timeoutMs) {
  if (g.ttyFd < 0 || g.inputClosed) return false;
  const Clock::time_point deadline = Clock::now() + milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<milliseconds>(
          deadline - Clock::now());
      wait = static_cast<int>(std::max<milliseconds::rep>(left.count(), 0));
    }
    pollfd ready{g.ttyFd, POLLIN, 0};
    const int count = poll(&ready, 1, wait);
    // A resize or a continue ends the wait, so the cursor is re-read.
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (gMoved) return false;
      continue;
    }
    if (count == 0) return false;
    if (count < 0 || (ready.revents & POLLNVAL)) break;
    char chunk[4096];
    const ssize_t got = read(g.ttyFd, chunk, sizeof chunk);
    if (got > 0) {
      AddInput(std::string_view(chunk, static_cast<std::size_t>(got)));
      return true;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;
    }
    break;  // end of file, or EIO after a hangup
  }
  g.inputClosed = true;
  return false;
}

int ReadNumber(const std::string& text, std::size_t& i) {
  int value = 0;
  const std::size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = std::min(value * 10 + (text[i] - '0'), 100000);
    ++i;
  }
  return i > start ? value : -1;
}

// Takes the answer ESC [ row ; col R out of the input, leaving any keys
// typed around it in place.
bool TakeCursorReport(Position& at) {
  for (std::size_t start = g.input.find("\x1b["); start != std::string::npos;
       start = g.input.find("\x1b[", start + 1)) {
    std::size_t i = start + 2;
    const int row = ReadNumber(g.input, i);
    if (row < 0 || i >= g.input.size() || g.input[i] != ';') continue;
    ++i;
    const int column = ReadNumber(g.input, i);
    if (column < 0 || i >= g.input.size() || g.input[i] != 'R') continue;
    g.input.erase(start, i + 1 - start);
    at = {row, column};
    --g.queriesPending;
    return true;
  }
  return false;
}

// Asks the terminal where its cursor is, waiting a bounded time: a
// terminal that never answers must not hang the program.
bool QueryCursor(Position& at) {
  if (g.outFd < 0 || g.ttyFd < 0 || !g.mayQuery) return false;
  g.output += "\x1b[6n";
  Flush();
  ++g.queriesPending;
  const Clock::time_point deadline = Clock::now() + milliseconds(kReplyWaitMs);
  for (;;) {
    if (TakeCursorReport(at)) return true;
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (!ReadInput(static_cast<int>(left.count())) && g.inputClosed) {
      return false;
    }
  }
}

// ---- open and close ------------------------------------------------------

void CloseTerminal() {
  if (!g.open) return;
  // The shell's prompt appears where the program's text left off.
  Present();
  g.output += g.restore;
  Flush();
  g.sgr = -1;
  g.cursorVisible = true;
  LeaveRawMode();
  RestoreSignals();
  if (g.outFd == g.ttyFd) g.outFd = -1;
  if (g.ttyFd >= 0) close(g.ttyFd);
  g.ttyFd = -1;
  g.inputClosed = true;
  g.open = false;
}

void OpenTerminal() {
  if (g.open) return;
  g.ttyFd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (g.ttyFd >= 0 && tcgetattr(g.ttyFd, &g.saved) != 0) {
    close(g.ttyFd);
    g.ttyFd = -1;
  }
  g.outFd = ChooseOutputFd();
  const char* term = std::getenv("TERM");
  g.mayQuery = term == nullptr || std::strcmp(term, "dumb") != 0;
  g.colours = g.mayQuery && !Set("NO_COLOR");
  g.restore = g.colours ? kRestore : kRestoreWithoutColours;
  g.queriesPending = 0;
  g.inputClosed = g.ttyFd < 0;
  g.hadKeyboard = g.ttyFd >= 0;
  g.input.clear();
  g.output.clear();
  g.sizeKnown = false;
  g.open = true;
  InstallSignals();
  if (g.ttyFd >= 0) EnterRawMode();
  static const bool atExitHooked = std::atexit(CloseTerminal) == 0;
  (void)atExitHooked;

  g.output += g.restore;
  g.sgr = -1;
  g.cursorVisible = true;
  Position start;
  const bool known = QueryCursor(start);
  // A scroll region another program left set would keep a line feed from
  // scrolling the whole screen. Resetting it moves the cursor home, so the
  // cursor is put back with an absolute move.
  g.output += "\x1b[r";
  g.terminalAtKnown = false;
  if (known) {
    g.cursor = Clamp(start, CurrentSize());
  } else {
    // Where the cursor is is unknown: a fresh bottom row is the one place
    // that surely overwrites nothing.
    ScrollScreen();
    g.cursor = {CurrentSize().height, 1};
  }
  Present();
}

// After a resize or a stop the terminal may have rewrapped its rows or
// written on them: where the cursor is, is asked again.
void RereadCursor() {
  gMoved = 0;
  RereadSize();
  Position at;
  if (!QueryCursor(at)) return;
  // While the window is still being resized, the terminal answers for a size
  // it has not told yet: its answer is the truer one.
  g.size.height = std::max(g.size.height, at.row);
  g.size.width = std::max(g.size.width, at.column);
  g.cursor = at;
}

// ---- the device ----------------------------------------------------------

class TerminalDevice : public ConsoleDevice {
 public:
  ~TerminalDevice() override { CloseTerminal(); }

  void Open() override { OpenTerminal(); }
  void Close() override { CloseTerminal(); }

  GridSize Size() override { return CurrentSize(); }

  Position Cursor() override { return Clamp(g.cursor, CurrentSize()); }

  void SetCursor(Position at) override {
    // Only recorded: the terminal's cursor is moved there before the next
    // key wait, so a run of characters costs no cursor moves in between.
    g.cursor = Clamp(at, CurrentSize());
  }

  void PutCells(Position at, std::span<const Cell> cells) override {
    const GridSize size = CurrentSize();
    if (!ClipToRow(at, cells, size)) return;
    const ColourPair first = cells[0].colours;
    SkipBlankLead(at, cells, first, [first](const Cell& cell) {
      return cell.character == U' ' && cell.colours == first;
    });
    if (cells.empty()) return;
    MoveTerminalCursor(at);
    for (const Cell& cell : cells) {
      SetSgr(cell.colours);
      if (cell.character >= 0x20 && cell.character < 0x7F) {
        g.output += static_cast<char>(cell.character);
      } else {
        locale_text::Append(g.output, vt::Glyph(cell.character));
      }
    }
    NoteWritten(at, cells.size(), size);
  }

  void ScrollUp(ColourPair blank) override {
    SetSgr(blank);  // first: the new row takes the colours in effect
    ScrollScreen();
    FlushIfLarge();
  }

  void SetTextColours(ColourPair colours) override { SetSgr(colours); }

  bool CursorVisible() override { return g.cursorVisible; }

  void SetCursorVisible(bool visible) override {
    g.cursorVisible = visible;
    g.output += visible ? "\x1b[?25h" : "\x1b[?25l";
  }

  KeyEvent NextKey() override {
    for (;;) {
      if (gMoved) RereadCursor();
      Present();
      // An answer to a query that timed out is no key.
      Position late;
      while (g.queriesPending > 0 && TakeCursorReport(late)) {
      }
      if (!g.input.empty()) {
        DecodedKey key = DecodeKey(g.input, false);
        if (key.consumed == 0) {
          if (ReadInput(kSequenceWaitMs)) continue;
          key = DecodeKey(g.input, true);
        }
        g.input.erase(0, std::max<std::size_t>(key.consumed, 1));
        return key.event;
      }
      if (g.inputClosed) {
        if (!g.hadKeyboard) return {KeyEvent::Kind::Character, 13};
        return {KeyEvent::Kind::Closed};
      }
      ReadInput(-1);
    }
  }

  void Beep() override {
    g.output += '\a';  // the bell itself: the one control byte we send
    Present();
  }
};

}  // namespace

std::unique_ptr<ConsoleDevice> MakePlatformConsole() {
  return std::make_unique<TerminalDevice>();
}

}  // namespace op
