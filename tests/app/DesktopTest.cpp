// The program in real windows: a virtual X server and a window manager (openbox) started here,
// the large catalogue generated into a program folder, the program run there. While the tree
// loads, the program is looked at between slices of its own CPU time (it is stopped while it is
// looked at, so what the screen shows is what a user would see at that moment): the splash shows
// its stored picture, its text and its animation, has no caption bar, and the main window is
// painted too. Afterwards Enter on the focused button opens the browse window, which restores
// to its layout's size.
#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::RunCommand;

namespace {

constexpr int kScreenW = 1024, kScreenH = 768;
// A guard against a hang only: nothing here waits for a time to pass.
constexpr auto kHangGuard = 300s;

// A child process, killed and reaped when the object goes (on every path out of a test).
class Child {
 public:
  // Runs Argv with Env added to the environment; its output goes to Log. KeepFd stays open in
  // the child.
  Child(const std::vector<std::string>& Argv, const std::vector<std::pair<std::string, std::string>>& Env,
        const fs::path& Log, int KeepFd = -1) {
    FPid = fork();
    if (FPid == 0) {
      for (const auto& [name, value] : Env) {
        if (value.empty())
          unsetenv(name.c_str());
        else
          setenv(name.c_str(), value.c_str(), 1);
      }
      const int log = open(Log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
      }
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != KeepFd) close(fd);
      std::vector<char*> args;
      for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (FPid <= 0) return;
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return FPid; }
  bool Running() const {
    if (FPid <= 0) return false;
    int status = 0;
    return waitpid(FPid, &status, WNOHANG) == 0;
  }

 private:
  pid_t FPid{-1};
};

// The CPU time a process has used so far.
std::chrono::nanoseconds CpuTime(pid_t Pid) {
  clockid_t clock;
  timespec t{};
  if (clock_getcpuclockid(Pid, &clock) != 0 || clock_gettime(clock, &t) != 0) return {};
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// The state letter of a process ('T' when stopped).
char ProcState(pid_t Pid) {
  std::ifstream in("/proc/" + std::to_string(Pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = all.rfind(')');
  if (close == std::string::npos) return '?';
  std::vector<std::string> fields;
  std::string field;
  for (char c : all.substr(close + 2)) {
    if (c == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  return fields.empty() || fields[0].empty() ? '?' : fields[0][0];
}

std::string Shell(const std::string& Command) {
  std::string out;
  RunCommand(Command + " 2>/dev/null", &out);
  return out;
}

// A top-level client window of the program, as the X server lists it.
struct XWindow {
  std::string Id;
  QString Name;
  int X{0}, Y{0}, W{0}, H{0};  // the client area on the screen
};

std::vector<XWindow> ProgramWindows() {
  static const QRegularExpression line(
      R"re(^\s*(0x[0-9a-f]+) "(.*)": \("kelv" "kelv"\)\s+(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+(-?\d+)\+(-?\d+))re");
  std::vector<XWindow> out;
  for (const QString& l : QString::fromStdString(Shell("xwininfo -root -tree")).split('\n')) {
    const QRegularExpressionMatch m = line.match(l);
    if (!m.hasMatch()) continue;
    out.push_back({m.captured(1).toStdString(), m.captured(2), m.captured(5).toInt(), m.captured(6).toInt(),
                   m.captured(3).toInt(), m.captured(4).toInt()});
  }
  return out;
}

bool Viewable(const XWindow& W) {
  return Shell("xwininfo -id " + W.Id).find("Map State: IsViewable") != std::string::npos;
}

std::optional<XWindow> Shown(const std::function<bool(const XWindow&)>& Which) {
  for (const XWindow& w : ProgramWindows())
    if (Which(w) && Viewable(w)) return w;
  return std::nullopt;
}

// The window manager's frame around a window: left, right, top, bottom (none: all 0).
std::vector<int> FrameExtents(const XWindow& W) {
  const QString out = QString::fromStdString(Shell("xprop -id " + W.Id + " _NET_FRAME_EXTENTS"));
  std::vector<int> e;
  const int eq = out.indexOf('=');
  if (eq >= 0)
    for (const QString& n : out.mid(eq + 1).split(',')) e.push_back(n.trimmed().toInt());
  if (e.size() != 4) e.assign(4, 0);
  return e;
}

QImage Screenshot(const fs::path& Dir, const QRect& R) {
  const fs::path file = Dir / "shot.png";
  fs::remove(file);
  Shell("import -window root -crop " + std::to_string(R.width()) + "x" + std::to_string(R.height()) + "+" +
      std::to_string(R.x()) + "+" + std::to_string(R.y()) + " +repage " + file.string());
  return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
}

// The splash picture stored in its layout (a class name, a 32-bit length, the GIF), as the
// GIF peer decodes it.
QImage StoredSplashPicture(const fs::path& Dir) {
  const std::vector<unsigned char> bytes =
      testsupport::ReadFile(testsupport::SourceDir() / "app" / "uSplash.Image1.picture");
  if (bytes.empty()) return {};
  const std::size_t gifAt = 1 + bytes[0] + 4;
  if (bytes.size() <= gifAt) return {};
  testsupport::WriteFile(Dir / "splash.gif", std::vector<unsigned char>(bytes.begin() + gifAt, bytes.end()));
  Shell("convert " + (Dir / "splash.gif").string() + "[0] " + (Dir / "splash.png").string());
  return QImage(QString::fromStdString((Dir / "splash.png").string())).convertToFormat(QImage::Format_RGB32);
}

bool SamePixels(const QImage& Shot, const QPoint& At, const QImage& Picture) {
  if (Shot.isNull() || Picture.isNull()) return false;
  for (int y = 0; y < Picture.height(); ++y)
    for (int x = 0; x < Picture.width(); ++x) {
      if (!Shot.rect().contains(At.x() + x, At.y() + y)) return false;
      const QRgb a = Shot.pixel(At.x() + x, At.y() + y), b = Picture.pixel(x, y);
      if (std::abs(qRed(a) - qRed(b)) > 8 || std::abs(qGreen(a) - qGreen(b)) > 8 || std::abs(qBlue(a) - qBlue(b)) > 8)
        return false;
    }
  return true;
}

// Text in dark letters on a light ground: both kinds of pixels in the box.
bool TextIn(const QImage& Shot, const QRect& Box) {
  int dark = 0, light = 0;
  for (int y = Box.top(); y <= Box.bottom(); ++y)
    for (int x = Box.left(); x <= Box.right(); ++x) {
      const int g = qGray(Shot.pixel(x, y));
      if (g < 96) ++dark;
      if (g > 200) ++light;
    }
  return dark >= 40 && light >= Box.width() * Box.height() / 2;
}

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "openbox", "xwininfo", "xprop", "xdotool", "wmctrl", "import", "convert"})
      if (!testsupport::HaveProgram(tool)) GTEST_SKIP() << tool << " not installed";
    if (!fs::exists(KELV_PROGRAM) || !fs::exists(KELV_GENCATALOGUE)) GTEST_SKIP() << "program not built";
    FStart = std::chrono::steady_clock::now();

    // The program folder with the large catalogue.
    const fs::path folder = FDir / "program";
    fs::create_directories(folder / "DB");
    fs::copy_file(KELV_PROGRAM, folder / "kelv");
    ASSERT_EQ(RunCommand(std::string(KELV_GENCATALOGUE) + " " +
                         (testsupport::SourceDir() / "tools" / "catalogue" / "schema.txt").string() + " '" +
                         (folder / "DB" / "kelv.m$$").string() + "' >/dev/null"),
              0);

    // The X server on a free display, then the window manager.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    FServer.emplace(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                                             std::to_string(kScreenW) + "x" + std::to_string(kScreenH) + "x24",
                                             "-dpi", "96", "-nolisten", "tcp"},
                    std::vector<std::pair<std::string, std::string>>{}, FDir / "xvfb.log", pipeFds[1]);
    close(pipeFds[1]);
    std::string display;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') display += c;
    close(pipeFds[0]);
    ASSERT_FALSE(display.empty()) << "the X server did not start";
    setenv("DISPLAY", (":" + display).c_str(), 1);
    const std::string home = (FDir / "home").string();
    FWindowManager.emplace(std::vector<std::string>{"openbox", "--sm-disable"},
                           std::vector<std::pair<std::string, std::string>>{
                               {"HOME", home}, {"XDG_CONFIG_HOME", home}, {"XDG_CACHE_HOME", home}},
                           FDir / "openbox.log");
    while (Shell("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") == std::string::npos) {
      ASSERT_TRUE(FWindowManager->Running()) << "the window manager ended";
      ASSERT_FALSE(HangGuard()) << "no window manager";
      std::this_thread::sleep_for(20ms);
    }
    FProgramEnv = {{"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", home}, {"HOME", home}};
    fs::create_directories(home);
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::replace);
  }

  bool HangGuard() const { return std::chrono::steady_clock::now() - FStart > kHangGuard; }

  // Polls Condition (the program running freely) until it holds; false on the hang guard.
  bool Await(const std::function<bool()>& Condition) {
    while (!Condition()) {
      if (HangGuard() || !FProgram->Running()) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  std::string ProgramLog() const {
    std::ifstream in(FDir / "program.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  testsupport::TempDir FDir;
  std::chrono::steady_clock::time_point FStart;
  std::optional<Child> FServer, FWindowManager, FProgram;
  std::vector<std::pair<std::string, std::string>> FProgramEnv;
};

bool IsSplash(const XWindow& W) { return W.W == 236 && W.H == 129; }
bool IsMain(const XWindow& W) { return W.Name == QStringLiteral("KELV електронен каталог"); }
bool IsBrowse(const XWindow& W) { return W.Name.endsWith(QStringLiteral("Търсене по спесификация")); }

TEST_F(Desktop, SplashAndMainWindowPaintedWhileTheTreeLoads_EnterOpensTheBrowseWindow) {
  const QImage picture = StoredSplashPicture(FDir.path());
  ASSERT_FALSE(picture.isNull());
  FProgram.emplace(std::vector<std::string>{(FDir / "program" / "kelv").string()}, FProgramEnv,
                   FDir / "program.log");
  const pid_t pid = FProgram->Pid();

  // Slices of 3 ms of the program's CPU time; between them it is stopped and looked at.
  int samples = 0, painted = 0, mainPainted = 0;
  bool seen = false;
  std::set<QByteArray> frames;
  std::vector<int> splashFrame, mainFrame;
  auto lastResume = std::chrono::steady_clock::now() - 1s;
  for (;;) {
    ASSERT_FALSE(HangGuard()) << "hang guard; program log:\n" << ProgramLog();
    ASSERT_TRUE(FProgram->Running()) << "the program ended; its log:\n" << ProgramLog();
    // At least a frame time of the animation between two looks, so that its timer is due.
    while (std::chrono::steady_clock::now() - lastResume < 150ms) std::this_thread::sleep_for(5ms);
    lastResume = std::chrono::steady_clock::now();
    kill(pid, SIGCONT);
    const std::chrono::nanoseconds start = CpuTime(pid);
    while (CpuTime(pid) < start + 3ms && FProgram->Running() && !HangGuard()) std::this_thread::sleep_for(100us);
    kill(pid, SIGSTOP);
    while (ProcState(pid) != 'T' && FProgram->Running()) std::this_thread::sleep_for(100us);

    const std::optional<XWindow> splash = Shown(IsSplash);
    if (!splash) {
      if (seen) break;  // the tree is in
      continue;
    }
    seen = true;
    ++samples;
    splashFrame = FrameExtents(*splash);
    const QImage shot = Screenshot(FDir.path(), QRect(splash->X, splash->Y, splash->W, splash->H));
    if (SamePixels(shot, QPoint(57, 10), picture) && TextIn(shot, QRect(76, 86, 130, 20))) {
      ++painted;
      frames.insert(QByteArray(reinterpret_cast<const char*>(shot.copy(52, 88, 16, 16).constBits()),
                               16 * 16 * 4));
    }
    if (const std::optional<XWindow> main = Shown(IsMain)) {
      mainFrame = FrameExtents(*main);
      // The navy panel below the banner, beside the splash.
      const QImage panel = Screenshot(FDir.path(), QRect(main->X + 10, main->Y + 100, 8, 8));
      if (!panel.isNull() && panel.pixel(4, 4) == qRgb(0, 0, 128)) ++mainPainted;
    }
  }
  kill(pid, SIGCONT);
  std::printf("looks at the splash while the tree loaded: %d, painted: %d, animation frames: %zu\n", samples,
              painted, frames.size());
  ASSERT_GT(samples, 0);
  EXPECT_GT(painted, 0) << "of " << samples << " looks at the splash while the tree loaded";
  EXPECT_GE(frames.size(), 2u) << "animation frames seen in " << painted << " looks";
  EXPECT_GT(mainPainted, 0) << "of " << samples << " looks at the main window";
  // No caption bar on the splash: its frame is no thicker at the top than at the bottom. The main
  // window has one.
  ASSERT_EQ(splashFrame.size(), 4u);
  EXPECT_EQ(splashFrame[2], splashFrame[3]);
  ASSERT_EQ(mainFrame.size(), 4u);
  EXPECT_GT(mainFrame[2], mainFrame[3]);

  // Enter on the main window's focused button (the first) opens the browse window, maximised.
  std::optional<XWindow> main;
  ASSERT_TRUE(Await([&] { return (main = Shown(IsMain)).has_value(); }));
  Shell("xdotool windowactivate " + main->Id);
  ASSERT_TRUE(Await([&] {
    return QString::fromStdString(Shell("xprop -root _NET_ACTIVE_WINDOW")).contains(QString::fromStdString(main->Id));
  }));
  Shell("xdotool key Return");
  std::optional<XWindow> browse;
  ASSERT_TRUE(Await([&] { return (browse = Shown(IsBrowse)).has_value() && browse->W == kScreenW; }))
      << ProgramLog();

  // Restored, it has the layout's 800 x 600 in the middle of the screen.
  Shell("wmctrl -i -r " + browse->Id + " -b remove,maximized_vert,maximized_horz");
  ASSERT_TRUE(Await([&] { return (browse = Shown(IsBrowse)).has_value() && browse->W != kScreenW; }));
  EXPECT_EQ(browse->W, 800);
  EXPECT_EQ(browse->H, 600);
  EXPECT_LE(std::abs(browse->X + browse->W / 2 - kScreenW / 2), 2);
  EXPECT_LE(std::abs(browse->Y + browse->H / 2 - kScreenH / 2), 2);
}

}  // namespace
